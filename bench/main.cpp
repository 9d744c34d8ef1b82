#include "bench.h"

#include <QApplication>
#include <cstdio>

namespace zantrel::bench {
std::map<std::string, Group>& groups() {
    static std::map<std::string, Group> all;
    return all;
}
std::vector<std::string>& arguments() {
    static std::vector<std::string> words;
    return words;
}
} // namespace zantrel::bench

// webcam-zantrel-bench GROUP [ARGS...]: runs one group of benchmarks and prints a line of figures per case.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto& all = zantrel::bench::groups();
    if (argc < 2 || !all.count(argv[1])) {
        std::fprintf(stderr, "usage: webcam-zantrel-bench GROUP [ARGS...]\ngroups:");
        for (const auto& [name, run] : all)
            std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    zantrel::bench::arguments().assign(argv + 2, argv + argc);
    return all.at(argv[1])();
}
