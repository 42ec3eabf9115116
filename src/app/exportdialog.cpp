#include "app/exportdialog.h"

#include "app/windowrun.h"
#include "export/outputcheck.h"
#include "export/printsize.h"
#include "export/stripexport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <tuple>

namespace {

constexpr StripKind allKinds[] = {StripKind::Average,    StripKind::Quadrant, StripKind::Brightness,
                                  StripKind::Difference, StripKind::Mood,     StripKind::Frames,
                                  StripKind::Shots,      StripKind::Palette};

struct SizePreset {
    const char *text;
    int width;
    int height;
};
// width 0: the width and height fields say.
constexpr SizePreset sizePresets[] = {{"1920 x 1080", 1920, 1080},
                                      {"3840 x 2160", 3840, 2160},
                                      {"7016 x 4961 (A2 at 300 dpi)", 7016, 4961},
                                      {"Custom", 0, 0}};

const char *const formats[] = {"png", "jpg", "bmp", "pdf"};
constexpr int pdfFormat = 3;
// Then "Custom", whose size the page field gives.
const char *const pages[] = {"None", "A4", "A3", "A2", "A1", "A0"};

// "h:mm:ss" or "m:ss".
QString duration(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const QString rest = QStringLiteral("%1:%2")
                             .arg(seconds / 60 % 60, hours ? 2 : 1, 10, QLatin1Char('0'))
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QString::number(hours) + QLatin1Char(':') + rest : rest;
}

QLineEdit *lineEdit(const QString &name, const QString &placeholder, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    return edit;
}

QComboBox *comboBox(const QString &name, const QStringList &items, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    return box;
}

// The window's own run stands for a new one when it read the same, unchanged
// file to its end, every picture and all of each, and the files need only
// strips it drew, one column per picture. Not the difference strip: the
// window compares its first picture with the previous video's last.
bool windowRunHolds(const QString &video, const OutputChoice &choice)
{
    const VideoRun *run = windowRun.run.get();
    if (!run || windowRun.running || !run->progress().finished || windowRun.packetsSkipped ||
        analysisState.frameCount < 1 || !windowRun.stamp ||
        QFileInfo(windowRun.videoPath).absoluteFilePath() != QFileInfo(video).absoluteFilePath() ||
        videoStamp(video) != windowRun.stamp)
        return false;
    // The window converts its pictures the default way.
    if (choice.layout.poster() || choice.layout.framed() || choice.colours || choice.shots ||
        choice.sampling.mode != Sampling::All || choice.crop.mode != Crop::None ||
        choice.colour != ColourConversion::Default || choice.layout.mean != ColourMean::Srgb)
        return false;
    return std::all_of(choice.kinds.begin(), choice.kinds.end(), [](StripKind kind) {
        return kind == StripKind::Average || kind == StripKind::Quadrant ||
               kind == StripKind::Brightness || kind == StripKind::Mood;
    });
}

} // namespace

ExportDialog::ExportDialog(const QString &videoPath, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Export"));
    buildForm(videoPath);
}

ExportDialog::~ExportDialog()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
}

void ExportDialog::buildForm(const QString &videoPath)
{
    auto *form = new QFormLayout;

    m_video = lineEdit(QStringLiteral("videoEdit"), tr("The video to export"), this);
    m_video->setText(videoPath);
    auto *chooseVideo = new QPushButton(tr("Choose..."), this);
    connect(chooseVideo, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Video to export"),
                                                          QFileInfo(m_video->text()).path());
        if (!path.isEmpty())
            m_video->setText(path);
    });
    auto *videoRow = new QHBoxLayout;
    videoRow->addWidget(m_video);
    videoRow->addWidget(chooseVideo);
    form->addRow(tr("Video:"), videoRow);

    auto *poster = new QPushButton(tr("Poster"), this);
    poster->setObjectName(QStringLiteral("posterButton"));
    poster->setToolTip(tr("The frames and average strips at 3840 x 2160 as PNG, with a time axis "
                          "and the video's title"));
    connect(poster, &QPushButton::clicked, this, &ExportDialog::choosePoster);
    form->addRow(tr("Preset:"), poster);

    auto *strips = new QGridLayout;
    for (StripKind kind : allKinds) {
        auto *box = new QCheckBox(stripName(kind), this);
        box->setObjectName(QStringLiteral("strip_") + stripName(kind));
        box->setChecked(kind == StripKind::Average || kind == StripKind::Frames);
        strips->addWidget(box, int(m_strips.size()) / 4, int(m_strips.size()) % 4);
        m_strips << box;
    }
    form->addRow(tr("Strips:"), strips);

    QStringList sizes;
    for (const SizePreset &preset : sizePresets)
        sizes << tr(preset.text);
    m_size = comboBox(QStringLiteral("sizeBox"), sizes, this);
    m_width = lineEdit(QStringLiteral("widthEdit"), tr("one column per picture"), this);
    m_height = lineEdit(QStringLiteral("heightEdit"), tr("each strip's own"), this);
    const auto showSize = [this](int index) {
        const SizePreset &preset = sizePresets[index];
        if (preset.width != 0) {
            m_width->setText(QString::number(preset.width));
            m_height->setText(QString::number(preset.height));
        }
    };
    connect(m_size, &QComboBox::currentIndexChanged, this, showSize);
    showSize(0);
    auto *sizeRow = new QHBoxLayout;
    sizeRow->addWidget(m_size);
    sizeRow->addWidget(m_width);
    sizeRow->addWidget(new QLabel(QStringLiteral("x"), this));
    sizeRow->addWidget(m_height);
    form->addRow(tr("Size:"), sizeRow);

    m_format = comboBox(QStringLiteral("formatBox"),
                        {tr("PNG"), tr("JPEG"), tr("BMP"), tr("PDF (vector)")}, this);
    form->addRow(tr("Format:"), m_format);

    QStringList pageNames;
    for (const char *page : pages)
        pageNames << tr(page);
    m_page = comboBox(QStringLiteral("pageBox"), pageNames << tr("Custom"), this);
    m_pageSize = lineEdit(QStringLiteral("pageEdit"), tr("WxHmm"), this);
    m_dpi = lineEdit(QStringLiteral("dpiEdit"),
                     tr("96; %1 with a page or a PDF").arg(defaultPrintDpi), this);
    for (QComboBox *box : {m_size, m_format, m_page})
        connect(box, &QComboBox::currentIndexChanged, this, &ExportDialog::showSizeFields);
    showSizeFields();
    auto *pageRow = new QHBoxLayout;
    pageRow->addWidget(m_page);
    pageRow->addWidget(m_pageSize);
    pageRow->addWidget(new QLabel(tr("DPI:"), this));
    pageRow->addWidget(m_dpi);
    form->addRow(tr("Page:"), pageRow);

    m_axis = new QCheckBox(tr("Time axis under each strip"), this);
    m_axis->setObjectName(QStringLiteral("axisBox"));
    form->addRow(tr("Axis:"), m_axis);
    m_title =
        lineEdit(QStringLiteral("titleEdit"), tr("none; auto: the video's title or name"), this);
    form->addRow(tr("Title:"), m_title);

    m_sampling =
        comboBox(QStringLiteral("samplingBox"),
                 {tr("Every picture"), tr("Key pictures"), tr("One every N seconds")}, this);
    m_seconds = lineEdit(QStringLiteral("secondsEdit"), tr("seconds"), this);
    const auto showSampling = [this](int index) { m_seconds->setEnabled(index == 2); };
    connect(m_sampling, &QComboBox::currentIndexChanged, this, showSampling);
    showSampling(0);
    auto *samplingRow = new QHBoxLayout;
    samplingRow->addWidget(m_sampling);
    samplingRow->addWidget(m_seconds);
    form->addRow(tr("Sampling:"), samplingRow);

    m_crop =
        comboBox(QStringLiteral("cropBox"), {tr("None"), tr("Automatic"), tr("Rectangle")}, this);
    m_rectangle = lineEdit(QStringLiteral("rectangleEdit"), tr("W:H:X:Y"), this);
    const auto showCrop = [this](int index) { m_rectangle->setEnabled(index == 2); };
    connect(m_crop, &QComboBox::currentIndexChanged, this, showCrop);
    showCrop(0);
    auto *cropRow = new QHBoxLayout;
    cropRow->addWidget(m_crop);
    cropRow->addWidget(m_rectangle);
    form->addRow(tr("Crop:"), cropRow);

    // In ColourConversion's order.
    m_colour = comboBox(QStringLiteral("colourBox"),
                        {tr("Default (fast)"), tr("Exact (accurate rounding, slower)")}, this);
    form->addRow(tr("Colours:"), m_colour);
    m_layout =
        comboBox(QStringLiteral("layoutBox"),
                 {tr("Linear"), tr("Ring (a disc, the width its side, 2000 when blank)")}, this);
    form->addRow(tr("Layout:"), m_layout);
    m_mean =
        comboBox(QStringLiteral("meanBox"),
                 {tr("sRGB values (default)"), tr("Linear light (the mean of the light)")}, this);
    form->addRow(tr("Mean:"), m_mean);

    m_csv = new QCheckBox(tr("Colours of every picture (-colours.csv)"), this);
    m_csv->setObjectName(QStringLiteral("csvBox"));
    m_shotsCsv = new QCheckBox(tr("Shots (-shots.csv)"), this);
    m_shotsCsv->setObjectName(QStringLiteral("shotsBox"));
    form->addRow(tr("CSV:"), m_csv);
    form->addRow(QString(), m_shotsCsv);

    m_folder = lineEdit(QStringLiteral("folderEdit"), tr("next to the video"), this);
    auto *chooseFolder = new QPushButton(tr("Choose..."), this);
    connect(chooseFolder, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, tr("Folder"));
        if (!folder.isEmpty())
            m_folder->setText(folder);
    });
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder);
    folderRow->addWidget(chooseFolder);
    form->addRow(tr("Folder:"), folderRow);

    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("errorLabel"));
    m_error->setWordWrap(true);
    m_error->setStyleSheet(QStringLiteral("color: #c00000"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setRange(0, 1000);
    m_progress->hide();
    m_timeLeft = new QLabel(this);
    m_timeLeft->setObjectName(QStringLiteral("timeLeftLabel"));
    m_timeLeft->hide();

    m_buttons = new QDialogButtonBox(this);
    QPushButton *exportButton = m_buttons->addButton(tr("Export"), QDialogButtonBox::AcceptRole);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    exportButton->setDefault(true);
    m_buttons->addButton(QDialogButtonBox::Cancel);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &ExportDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(m_progress);
    layout->addWidget(m_timeLeft);
    layout->addWidget(m_buttons);

    m_settings = {m_video,      chooseVideo, m_size, m_format,   m_axis,       m_title,
                  m_sampling,   m_crop,      m_csv,  m_shotsCsv, chooseFolder, m_folder,
                  exportButton, m_colour,    m_page, m_dpi,      poster};
    m_settings << m_layout << m_mean;
    for (QCheckBox *box : m_strips)
        m_settings << box;
}

std::optional<OutputChoice> ExportDialog::choice(QString *why) const
{
    const auto fail = [why](const QString &reason) {
        *why = reason;
        return std::nullopt;
    };
    OutputChoice choice;
    // What the batch tool records with every run.
    choice.record = true;
    choice.kinds.clear();
    for (int i = 0; i < m_strips.size(); ++i) {
        if (m_strips[i]->isChecked())
            choice.kinds << allKinds[i];
    }
    if (choice.kinds.isEmpty())
        return fail(tr("Choose at least one strip."));
    for (const auto &[edit, value, name] :
         {std::tuple(m_width, &choice.layout.width, tr("width")),
          std::tuple(m_height, &choice.layout.height, tr("height"))}) {
        const QString text = edit->text().trimmed();
        if (text.isEmpty())
            continue;
        bool valid = false;
        *value = text.toInt(&valid);
        if (!valid || *value < 1 || *value > largestStripSide)
            return fail(tr("The %1 takes a whole number from 1 to %2, or nothing.")
                            .arg(name)
                            .arg(largestStripSide));
    }
    choice.layout.format = QString::fromLatin1(formats[m_format->currentIndex()]);
    choice.layout.ring = m_layout->currentIndex() == 1;
    choice.layout.mean = static_cast<ColourMean>(m_mean->currentIndex());
    choice.layout.axis = m_axis->isChecked();
    choice.layout.title = m_title->text();
    if (const QString dpi = m_dpi->text().trimmed(); !dpi.isEmpty()) {
        bool valid = false;
        choice.layout.dpi = dpi.toInt(&valid);
        if (!valid || choice.layout.dpi < fewestDpi || choice.layout.dpi > mostDpi)
            return fail(tr("The DPI takes a whole number from %1 to %2, or nothing.")
                            .arg(fewestDpi)
                            .arg(mostDpi));
    }
    if (choice.layout.ring && (m_format->currentIndex() == pdfFormat || m_page->currentIndex() > 0))
        return fail(tr("A ring is drawn as a picture, its width a side: choose PNG, JPEG or BMP "
                       "and no page."));
    if (m_page->currentIndex() > 0) {
        const bool custom = m_page->currentIndex() == int(std::size(pages));
        const QString text = custom ? m_pageSize->text().trimmed()
                                    : QString::fromLatin1(pages[m_page->currentIndex()]);
        const auto page = parsePageSize(text, why);
        if (!page)
            return std::nullopt;
        choice.layout.page = *page;
        // As the fields show it: the page is a picture's size.
        if (m_format->currentIndex() != pdfFormat)
            choice.layout.width = 0;
        if (!fitToPage(choice.layout, why))
            return std::nullopt;
    }
    if (const auto oversized = oversizedStrip(choice.kinds, choice.layout))
        return fail(*oversized);
    const QString sampling = m_sampling->currentIndex() == 0   ? QStringLiteral("all")
                             : m_sampling->currentIndex() == 1 ? QStringLiteral("key")
                                                               : m_seconds->text().trimmed();
    if (const auto parsed = parseSampling(sampling))
        choice.sampling = *parsed;
    else
        return fail(tr("Sampling \"%1\" is not a number of seconds of at least %2.")
                        .arg(sampling)
                        .arg(Sampling::shortestInterval));
    const QString crop = m_crop->currentIndex() == 0   ? QStringLiteral("none")
                         : m_crop->currentIndex() == 1 ? QStringLiteral("auto")
                                                       : m_rectangle->text().trimmed();
    if (const auto parsed = parseCrop(crop))
        choice.crop = *parsed;
    else
        return fail(tr("The crop \"%1\" is not a rectangle W:H:X:Y.").arg(crop));
    choice.colours = m_csv->isChecked();
    choice.shots = m_shotsCsv->isChecked();
    choice.colour = static_cast<ColourConversion>(m_colour->currentIndex());
    return choice;
}

QString ExportDialog::base() const
{
    return outputBase(m_video->text(), m_folder->text());
}

void ExportDialog::accept()
{
    if (isExporting())
        return;
    QString why;
    const std::optional<OutputChoice> chosen = choice(&why);
    const QString video = m_video->text();
    const QString folder = m_folder->text();
    if (chosen && video.isEmpty())
        why = tr("Choose a video.");
    else if (chosen && videoAmongOutputs({video}, *chosen, folder))
        why = tr("%1 is both the video and a file to write.").arg(video);
    else if (chosen && !folder.isEmpty() && !QDir().mkpath(folder))
        why = tr("The folder %1 could not be created.").arg(folder);
    m_error->setText(why);
    if (!why.isEmpty())
        return;

    m_exportedVideo = video;
    if (windowRunHolds(video, *chosen)) {
        // Strips of one column a picture: written at once, before the window
        // could start another run over them.
        VideoExport outcome;
        outcome.pictures = int64_t(analysisState.frameCount);
        outcome.failed = writeOutputs(base(), *chosen, analysisState, RunResult(), windowRun.stamp);
        outcome.status = outcome.failed.isEmpty() ? VideoExport::Written : VideoExport::Failed;
        for (const QString &file : outputNames(base(), *chosen)) {
            if (std::none_of(outcome.failed.begin(), outcome.failed.end(),
                             [&file](const WriteFailure &failure) { return failure.file == file; }))
                outcome.written << file;
        }
        done(Accepted);
        emit exportEnded(video, outcome, true);
        return;
    }
    setExporting(true);
    m_cancel = false;
    m_clock.start();
    m_worker = std::thread([this, video, base = base(), choice = *chosen] {
        const VideoExport outcome = exportVideo(
            video, base, choice, defaultMaxPixels, [this](const ReadProgress &progress) {
                QMetaObject::invokeMethod(
                    this, [this, progress] { showProgress(progress); }, Qt::QueuedConnection);
                return !m_cancel;
            });
        // Dropped with the dialog when it goes first: its destructor joins.
        QMetaObject::invokeMethod(
            this, [this, outcome] { finishExport(outcome); }, Qt::QueuedConnection);
    });
}

void ExportDialog::reject()
{
    if (!isExporting()) {
        QDialog::reject();
        return;
    }
    m_cancel = true;
    m_timeLeft->setText(tr("Cancelling..."));
}

void ExportDialog::setExporting(bool on)
{
    for (QWidget *widget : m_settings)
        widget->setEnabled(!on);
    // The custom size and the fields that go with a choice follow their boxes.
    showSizeFields();
    if (on) {
        for (QWidget *field :
             std::initializer_list<QWidget *>{m_size, m_width, m_height, m_pageSize})
            field->setEnabled(false);
    }
    m_seconds->setEnabled(!on && m_sampling->currentIndex() == 2);
    m_rectangle->setEnabled(!on && m_crop->currentIndex() == 2);
    m_progress->setVisible(on);
    m_timeLeft->setVisible(on);
    m_progress->setValue(0);
    m_timeLeft->setText(tr("Starting..."));
}

void ExportDialog::showSizeFields()
{
    const bool custom = sizePresets[m_size->currentIndex()].width == 0;
    const bool page = m_page->currentIndex() > 0;
    const bool pdf = m_format->currentIndex() == pdfFormat;
    m_size->setEnabled(!page || pdf);
    m_width->setEnabled(custom && (!page || pdf));
    m_height->setEnabled(custom && !page);
    m_pageSize->setEnabled(m_page->currentIndex() == int(std::size(pages)));
}

void ExportDialog::choosePoster()
{
    for (int i = 0; i < m_strips.size(); ++i)
        m_strips[i]->setChecked(allKinds[i] == StripKind::Frames ||
                                allKinds[i] == StripKind::Average);
    m_size->setCurrentIndex(1); // 3840 x 2160
    m_format->setCurrentIndex(0);
    m_page->setCurrentIndex(0);
    m_axis->setChecked(true);
    m_title->setText(QStringLiteral("auto"));
}

void ExportDialog::showProgress(const ReadProgress &progress)
{
    if (!isExporting() || m_cancel)
        return;
    if (progress.fraction < 0) {
        // Busy, length unknown.
        m_progress->setRange(0, 0);
        m_timeLeft->setText(tr("%1 pictures, time left unknown").arg(progress.pictures));
        return;
    }
    m_progress->setRange(0, 1000);
    m_progress->setValue(int(progress.fraction * 1000));
    const qint64 elapsed = m_clock.elapsed();
    if (progress.fraction < 0.01 || elapsed < 1000) {
        m_timeLeft->setText(tr("%1 pictures").arg(progress.pictures));
        return;
    }
    const qint64 left = qint64(elapsed * (1 - progress.fraction) / progress.fraction / 1000);
    m_timeLeft->setText(
        tr("%1 pictures, about %2 left").arg(progress.pictures).arg(duration(left)));
}

void ExportDialog::finishExport(const VideoExport &outcome)
{
    m_worker.join();
    const QString video = m_exportedVideo;
    if (outcome.status == VideoExport::Cancelled) {
        done(Rejected);
        emit exportCancelled(video);
        return;
    }
    done(Accepted);
    emit exportEnded(video, outcome, false);
}
