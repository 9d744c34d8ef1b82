#include "settings/server_editor.h"

#include "core/secret_value.h"
#include "secrets/background_saves.h"
#include "settings/page_widgets.h"
#include "transfer/server_check.h"
#include "transfer/upload_target.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zantrel {

namespace {

// The list column a field shows in, -1 for fields the list does not show.
int columnOf(ServerField field) {
    switch (field) {
    case ServerField::Address:
        return 0;
    case ServerField::Port:
        return 1;
    case ServerField::Login:
        return 2;
    case ServerField::Directory:
        return 3;
    default:
        return -1;
    }
}

// What the fields show while no entry is current.
QString blankText(ServerField field) {
    switch (field) {
    case ServerField::Address:
        return QStringLiteral("ftp.");
    case ServerField::Port:
        return QStringLiteral("21");
    case ServerField::Region:
        return QStringLiteral("us-east-1");
    default:
        return {};
    }
}

} // namespace

ServerEditor::ServerEditor(QWidget* parent)
    : QWidget(parent), list_(new QTreeWidget(this)), protocol_(page::label(this, "ServerProtocol", {})),
      passiveHint_(
          page::label(this, "PassiveHint",
                      QStringLiteral("FTPS always uses passive mode: over TLS, active mode fails with most "
                                     "servers"),
                      true)),
      remove_(new QPushButton(QStringLiteral("Remove"), this)),
      test_(new QPushButton(QStringLiteral("Test"), this)),
      outcome_(page::label(this, "TestOutcome", {}, true)) {
    list_->setObjectName(QStringLiteral("FTPServerList"));
    list_->setAccessibleName(QStringLiteral("FTP servers"));
    list_->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Port"), QStringLiteral("Login"),
                            QStringLiteral("Directory")});
    list_->setRootIsDecorated(false);
    add_ = new QPushButton(QStringLiteral("Add"), this);
    add_->setObjectName(QStringLiteral("AddServer"));
    remove_->setObjectName(QStringLiteral("RemoveServer"));
    test_->setObjectName(QStringLiteral("TestServer"));
    test_->setToolTip(QStringLiteral("Reach the server and its folder, without uploading anything"));
    outcome_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* group = new QGroupBox(QStringLiteral("Server"), this);
    fields_ = group;
    auto* form = new QFormLayout(group);
    const auto text = [&](ServerField field, const char* name, const QString& caption,
                          const QString& tip = {}) {
        QLineEdit* edit = page::field(group, name, caption, tip);
        texts_[field] = edit;
        return edit;
    };
    auto* address = new QHBoxLayout;
    address->addWidget(text(
        ServerField::Address, "FTPAddress", QStringLiteral("Address:"),
        QStringLiteral("A host name; ftps://host for FTP over TLS, sftp://host for SFTP, davs://host/path "
                       "for WebDAV, s3://endpoint/bucket for S3, file:///path for a folder here")));
    address->addWidget(protocol_);
    form->addRow(QStringLiteral("Address:"), address);
    form->addRow(QStringLiteral("Port:"), text(ServerField::Port, "FTPPort", QStringLiteral("Port:")));
    form->addRow(QStringLiteral("Login:"), text(ServerField::Login, "FTPLogin", QStringLiteral("Login:")));
    form->addRow(QStringLiteral("Password:"),
                 text(ServerField::Password, "FTPPassword", QStringLiteral("Password:")));
    texts_[ServerField::Password]->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Directory:"),
                 text(ServerField::Directory, "URL", QStringLiteral("Directory:")));
    form->addRow(QString(), page::label(group, nullptr, QStringLiteral("Must be the complete directory")));
    form->addRow(QStringLiteral("Trusted key:"),
                 text(ServerField::Pinned, "FTPPinned", QStringLiteral("Trusted key:"),
                      QStringLiteral("FTPS, WebDAV over HTTPS, S3: the server's public-key pin "
                                     "(sha256//…) to trust instead of a certificate authority")));
    form->addRow(QStringLiteral("Key file:"),
                 text(ServerField::KeyFile, "FTPKeyFile", QStringLiteral("Key file:"),
                      QStringLiteral("SFTP: a private key file to log in with")));
    form->addRow(QStringLiteral("Region:"),
                 text(ServerField::Region, "FTPRegion", QStringLiteral("Region:"),
                      QStringLiteral("S3: the region requests are signed for (auto for Cloudflare R2)")));
    checks_[ServerField::Passive] =
        page::check(group, "FTPPassive", QStringLiteral("Passive mode"),
                    QStringLiteral("Needed behind most NAT routers and firewalls"));
    checks_[ServerField::Atomic] =
        page::check(group, "FTPAtomic", QStringLiteral("Upload under a temporary name, then rename"),
                    QStringLiteral("Viewers never see a half-uploaded picture"));
    form->addRow(checks_[ServerField::Passive]);
    form->addRow(passiveHint_);
    form->addRow(checks_[ServerField::Atomic]);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(remove_);
    buttons->addStretch();
    auto* check = new QHBoxLayout;
    check->addWidget(test_);
    check->addWidget(outcome_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    layout->addWidget(group);
    layout->addLayout(check);

    for (const auto& [field, edit] : texts_)
        connect(edit, &QLineEdit::textChanged, this,
                [this, f = field](const QString& t) { fieldEdited(f, t); });
    for (const auto& [field, box] : checks_)
        connect(box, &QCheckBox::toggled, this, [this, f = field](bool on) {
            fieldEdited(f, on ? QStringLiteral("1") : QStringLiteral("0"));
            showProtocol();
        });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (rebuilding_)
            return;
        editor_.select(item ? list_->indexOfTopLevelItem(item) + 1 : 0);
        showCurrent();
    });
    connect(add_, &QPushButton::clicked, this, &ServerEditor::add);
    connect(remove_, &QPushButton::clicked, this, &ServerEditor::remove);
    connect(test_, &QPushButton::clicked, this, &ServerEditor::test);
    reload();
}

void ServerEditor::reload() {
    rebuilding_ = true;
    list_->clear();
    for (const ServerRow& row : editor_.rebuild())
        list_->addTopLevelItem(
            new QTreeWidgetItem(QStringList{row.address, row.port, row.login, row.directory}));
    if (editor_.current())
        list_->setCurrentItem(list_->topLevelItem(editor_.current() - 1));
    rebuilding_ = false;
    showCurrent();
}

void ServerEditor::showCurrent() {
    // The current entry is set before the fields are filled: the write-back of each filled field goes
    // to the entry being shown.
    const bool any = editor_.current() != 0;
    fields_->setEnabled(any);
    filling_ = true;
    for (const auto& [field, edit] : texts_)
        edit->setText(any ? editor_.text(field) : blankText(field));
    filling_ = false;
    for (const auto& [field, box] : checks_)
        box->setChecked(any ? editor_.text(field) == QLatin1String("1") : field == ServerField::Atomic);
    remove_->setEnabled(any);
    test_->setEnabled(any);
    outcome_->clear();
    ++checkNumber_;
    showProtocol();
}

void ServerEditor::fieldEdited(ServerField field, const QString& text) {
    if (field == ServerField::Address)
        showProtocol();
    if (field == ServerField::Password) {
        // Not written back while filled: the shown value may be older than a save still under way.
        if (filling_ || !editor_.edit(field, text, this, [this] { passwordSaved(); }))
            return;
        ++passwordSaves_; // until it is saved, no entry moves and no other entry is shown
        list_->setEnabled(false);
        add_->setEnabled(false);
        remove_->setEnabled(false);
        return;
    }
    if (!editor_.edit(field, text))
        return;
    const int column = columnOf(field);
    if (QTreeWidgetItem* row = list_->topLevelItem(editor_.current() - 1); row && column >= 0)
        row->setText(column, text);
    // Another kind of address brings its own port, unless the user chose one.
    QLineEdit* port = texts_[ServerField::Port];
    const int wanted = DefaultPort(text);
    if (field == ServerField::Address && !filling_ && wanted > 0 &&
        QList<QString>{{}, "21", "22", "80", "443"}.contains(port->text()))
        port->setText(QString::number(wanted));
}

void ServerEditor::add() {
    editor_.add();
    reload();
    Q_EMIT countChanged(editor_.count());
}

void ServerEditor::remove() {
    editor_.remove();
    reload();
    Q_EMIT countChanged(editor_.count());
}

void ServerEditor::showProtocol() {
    const QString address = texts_[ServerField::Address]->text();
    protocol_->setText(ServerProtocolText(address));
    const QString protocol = protocol_->text();
    const QString scheme = TargetScheme(address);
    const bool folder = scheme == QLatin1String("file");
    texts_[ServerField::Port]->setEnabled(!folder);
    texts_[ServerField::Login]->setEnabled(!folder);
    texts_[ServerField::Password]->setEnabled(!folder);
    texts_[ServerField::Pinned]->setEnabled(protocol.startsWith(QLatin1String("FTPS")) ||
                                            scheme == QLatin1String("davs") || scheme == QLatin1String("s3"));
    texts_[ServerField::KeyFile]->setEnabled(protocol.startsWith(QLatin1String("SFTP")));
    texts_[ServerField::Region]->setEnabled(scheme.startsWith(QLatin1String("s3")));
    // PASSIVE keeps its meaning for plain FTP; FTPS is passive whatever it says.
    checks_[ServerField::Passive]->setEnabled(protocol == QLatin1String("FTP"));
    passiveHint_->setVisible(protocol.startsWith(QLatin1String("FTPS")));
}

void ServerEditor::passwordSaved() {
    if (--passwordSaves_ > 0)
        return;
    list_->setEnabled(true);
    add_->setEnabled(true);
    remove_->setEnabled(editor_.current() != 0);
}

void ServerEditor::test() {
    if (!editor_.current())
        return;
    // The entry as stored, which is what the fields show, once a password typed is saved; read and checked
    // on the pool (its password may be in the keyring), which the application waits for at exit, so
    // closing the dialog never waits for a server.
    const int shown = editor_.current();
    const quint64 number = ++checkNumber_;
    outcome_->setText(QStringLiteral("Testing..."));
    test_->setEnabled(false);
    QThreadPool::globalInstance()->start([shown, number, self = QPointer<ServerEditor>(this)]() mutable {
        FinishBackgroundSaves();
        // A password that cannot be had says why, as a job would, rather than failing to log in.
        ServerCheckResult result;
        if (const QString refusal = ResolveServerPassword(shown).refusal; !refusal.isEmpty())
            result.message = refusal.left(1).toUpper() + refusal.mid(1);
        else
            result = CheckTarget(ReadServerEntry(shown));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = std::move(self), number, result] {
                if (self)
                    self->showOutcome(number, result);
            },
            Qt::QueuedConnection);
    });
}

void ServerEditor::showOutcome(quint64 number, const ServerCheckResult& result) {
    if (number != checkNumber_)
        return; // another entry is shown by now
    QString text = result.message;
    if (!result.fingerprint.isEmpty())
        text += QStringLiteral("\nKey seen: ") + result.fingerprint;
    outcome_->setText(text);
    test_->setEnabled(editor_.current() != 0);
    Q_EMIT checkFinished();
}

} // namespace zantrel
