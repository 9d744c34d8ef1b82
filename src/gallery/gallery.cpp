#include "gallery/gallery.h"

#include "core/store.h"
#include "gallery/caption_pictures.h"
#include "gallery/gallery_model.h"
#include "gallery/image_view.h"
#include "gallery/thumbnail_loader.h"
#include "gallery/timelapse_dialog.h"
#include "shell/caption_row.h"
#include "shell/drag_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace zantrel {

namespace {

constexpr int kScrollSettleMs = 60;
constexpr int kMargin = 10; // between the window's edges and the grid
const QString kMaxRes = QStringLiteral("maxres");
const QString kClose = QStringLiteral("close");

} // namespace

std::pair<int, int> VisibleRows(const QListView& view) {
    const QRect area = view.viewport()->rect();
    const QSize step = view.gridSize().isValid() ? view.gridSize() / 2 : QSize(16, 16);
    int first = -1;
    int last = -2;
    for (int y = area.top(); y <= area.bottom(); y += std::max(1, step.height())) {
        for (int x = area.left(); x <= area.right(); x += std::max(1, step.width())) {
            const int row = view.indexAt({x, y}).row();
            if (row < 0)
                continue;
            first = first < 0 ? row : std::min(first, row);
            last = std::max(last, row);
        }
    }
    return {first, last};
}

Gallery::Gallery(Options options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), model_(std::make_unique<GalleryModel>()) {
    setObjectName(QStringLiteral("Gallery"));
    setMinimumSize(kMinimumSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    caption_ = new CaptionRow(this, 2);
    caption_->setPictureLeft(kMargin);
    caption_->picture()->setText(QStringLiteral(" Image Gallery"));
    caption_->picture()->setAccessibleName(QStringLiteral("Image Gallery"));
    SetCaptionPicture(caption_->addButton(kMaxRes, {}, QString()), QStringLiteral("maximize"));
    SetCaptionPicture(caption_->addButton(kClose, {}, QStringLiteral("Close")), QStringLiteral("close"));
    connect(caption_, &CaptionRow::buttonClicked, this, &Gallery::captionClicked);
    layout->addWidget(caption_);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(kMargin, 4, kMargin, 4);
    body->setSpacing(2);
    layout->addLayout(body, 1);

    grid_ = new QListView(this);
    grid_->setObjectName(QStringLiteral("MasterControls"));
    grid_->setAccessibleName(QStringLiteral("Images"));
    grid_->setViewMode(QListView::IconMode);
    grid_->setMovement(QListView::Static);
    grid_->setResizeMode(QListView::Adjust);
    grid_->setLayoutMode(QListView::Batched);
    grid_->setBatchSize(2000);
    grid_->setUniformItemSizes(true);
    grid_->setIconSize(ThumbnailMaker::kGalleryBox);
    grid_->setGridSize(kGridSize);
    grid_->setWordWrap(true);
    grid_->setTextElideMode(Qt::ElideMiddle);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setModel(model_.get());
    body->addWidget(grid_, 1);

    footNote_ = new QLabel(this);
    footNote_->setObjectName(QStringLiteral("FootNote"));
    footNote_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    order_ = new QComboBox(this);
    order_->setObjectName(QStringLiteral("GalleryOrder"));
    order_->setAccessibleName(QStringLiteral("Order"));
    order_->addItems(
        {QStringLiteral("Oldest first"), QStringLiteral("Newest first")}); // index = the key's value
    order_->setCurrentIndex(ReadFlag(keys::GalleryNewestFirst) ? 1 : 0);
    connect(order_, &QComboBox::activated, this, &Gallery::orderChosen);
    auto* foot = new QHBoxLayout;
    foot->addWidget(footNote_, 1);
    foot->addWidget(order_);
    auto* makeVideo = new QToolButton(this);
    makeVideo->setObjectName(QStringLiteral("MakeTimelapse"));
    makeVideo->setText(QStringLiteral("Make time-lapse..."));
    makeVideo->setAccessibleName(QStringLiteral("Make time-lapse..."));
    connect(makeVideo, &QToolButton::clicked, this, &Gallery::makeTimelapse);
    foot->addWidget(makeVideo);
    body->addLayout(foot);

    ThumbnailCache cache(options.cacheRoot.isEmpty() ? ThumbnailCache::defaultRoot() : options.cacheRoot);
    loader_ = std::make_unique<ThumbnailLoader>(*model_, std::move(cache), std::move(options.decoder));
    connect(loader_.get(), &ThumbnailLoader::footNoteChanged, this, &Gallery::setFootNote);
    connect(loader_.get(), &ThumbnailLoader::finished, this, &Gallery::fillFinished);

    scrollSettle_ = new QTimer(this);
    scrollSettle_->setSingleShot(true);
    scrollSettle_->setInterval(kScrollSettleMs);
    connect(scrollSettle_, &QTimer::timeout, this, &Gallery::updateVisibleRows);
    connect(grid_->verticalScrollBar(), &QScrollBar::valueChanged, scrollSettle_,
            qOverload<>(&QTimer::start));
    connect(model_.get(), &QAbstractItemModel::modelReset, this, &Gallery::updateVisibleRows,
            Qt::QueuedConnection);
    connect(grid_, &QListView::doubleClicked, this, &Gallery::openItem);

    WindowDrag::attach(this); // the background
    FrameResizer::attach(this);
    resize(kInitialSize);
}

Gallery::~Gallery() {
    grid_->setModel(nullptr);
    loader_.reset(); // waits for the decoding threads before the model goes
}

Gallery* Gallery::open(QWidget* owner) {
    auto* gallery = new Gallery();
    gallery->setAttribute(Qt::WA_DeleteOnClose);
    gallery->setWindowModality(Qt::ApplicationModal);
    if (owner)
        connect(owner, &QObject::destroyed, gallery, [gallery] { delete gallery; }); // also at shutdown
    gallery->showFolder(GetSetting(keys::ImagePath, QDir::currentPath()));
    return gallery;
}

void Gallery::showFolder(const QString& folder) {
    show();
    fill(QDir(folder).absolutePath());
}

void Gallery::fill(const QString& folder) {
    grid_->setCursor(Qt::BusyCursor);
    loader_->start(folder, imageOrder());
}

ImageOrder Gallery::imageOrder() const {
    return order_->currentIndex() == 1 ? ImageOrder::NewestFirst : ImageOrder::OldestFirst;
}

void Gallery::orderChosen(int index) {
    SaveSetting(keys::GalleryNewestFirst, QString::number(index == 1 ? 1 : 0));
    if (!model_->folder().isEmpty())
        fill(model_->folder()); // the folder as it is now, in the new order
}

bool Gallery::loading() const {
    return loader_->loading();
}

void Gallery::captionClicked(const QString& key) {
    if (key == kMaxRes) {
        const bool maximize = !isMaximized();
        if (maximize)
            showMaximized();
        else
            showNormal();
        SetCaptionPicture(caption_->button(kMaxRes),
                          maximize ? QStringLiteral("restore") : QStringLiteral("maximize"));
    } else if (key == kClose) {
        if (loading())
            loader_->cancel();
        else
            close();
    }
}

void Gallery::openItem(const QModelIndex& index) {
    const QString path = index.data(GalleryModel::PathRole).toString();
    if (model_->rowCount() == 0 || path.isEmpty())
        return;
    if (!viewer_)
        viewer_ = new ImageView(this);
    viewer_->showPath(path);
}

void Gallery::makeTimelapse() {
    QStringList shown;
    shown.reserve(model_->rowCount());
    for (int row = 0; row < model_->rowCount(); ++row)
        shown << model_->path(row);
    const QString folder =
        model_->folder().isEmpty() ? GetSetting(keys::ImagePath, QDir::currentPath()) : model_->folder();
    TimelapseDialog::open(std::move(shown), folder, this);
}

void Gallery::setFootNote(const QString& text) {
    footNote_->setText(text);
    Q_EMIT footNoteChanged(text);
}

void Gallery::fillFinished() {
    grid_->unsetCursor();
}

void Gallery::updateVisibleRows() {
    const auto [first, last] = VisibleRows(*grid_);
    loader_->setVisibleRows(first, last);
}

void Gallery::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange)
        setWindowTitle(isMinimized() ? QStringLiteral("Image Gallery") : QString());
    QWidget::changeEvent(event);
}

void Gallery::closeEvent(QCloseEvent* event) {
    loader_->cancel(); // a close from outside the caption row (the desktop's) ends the fill as well
    QWidget::closeEvent(event);
}

void Gallery::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scrollSettle_->start();
}

} // namespace zantrel
