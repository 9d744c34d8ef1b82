#include "health/health_log.h"

#include "core/log_line.h"
#include "health/health_monitor.h"

namespace zantrel {

void LogHealthEvents(HealthMonitor& monitor) {
    QObject::connect(&monitor, &HealthMonitor::eventHappened, &monitor, [](const HealthEvent& e) {
        LogLine(e.event == QLatin1String("recovered") ? LogPriority::Info : LogPriority::Warning,
                QStringLiteral("Alert %1: %2").arg(e.event, e.message));
    });
}

} // namespace zantrel
