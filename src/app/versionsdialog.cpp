#include "app/versionsdialog.h"

#include "export/outputcheck.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

VersionsDialog::VersionsDialog(const QString &a, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Compare Versions"));
    setObjectName(QStringLiteral("versionsDialog"));
    m_a = new QLineEdit(a, this);
    m_a->setObjectName(QStringLiteral("versionA"));
    m_b = new QLineEdit(this);
    m_b->setObjectName(QStringLiteral("versionB"));
    const auto chooser = [this](QLineEdit *field) {
        auto *row = new QHBoxLayout;
        auto *browse = new QPushButton(tr("Browse..."), this);
        row->addWidget(field);
        row->addWidget(browse);
        connect(browse, &QPushButton::clicked, this, [this, field] {
            const QString path = QFileDialog::getOpenFileName(
                this, tr("Choose a version"), QFileInfo(field->text()).absolutePath());
            if (!path.isEmpty())
                field->setText(path);
        });
        m_settings << field << browse;
        return row;
    };
    m_sampling = new QComboBox(this);
    m_sampling->addItems({tr("Every picture"), tr("Key pictures (faster, to a second)")});
    m_settings << m_sampling;

    auto *form = new QFormLayout;
    form->addRow(tr("Version A:"), chooser(m_a));
    form->addRow(tr("Version B:"), chooser(m_b));
    form->addRow(tr("Pictures:"), m_sampling);

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 2000);
    m_progress->setVisible(false);
    m_display = new QLabel(this);
    m_display->setObjectName(QStringLiteral("versionsDisplay"));
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_display);
    scroll->setMinimumHeight(280);
    m_summary = new QPlainTextEdit(this);
    m_summary->setObjectName(QStringLiteral("versionsSummary"));
    m_summary->setReadOnly(true);
    m_summary->setMaximumHeight(140);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_compare = buttons->addButton(tr("Compare"), QDialogButtonBox::ActionRole);
    m_compare->setObjectName(QStringLiteral("compareButton"));
    m_save = buttons->addButton(tr("Save..."), QDialogButtonBox::ActionRole);
    m_save->setObjectName(QStringLiteral("saveVersionsButton"));
    m_save->setEnabled(false);
    connect(m_compare, &QPushButton::clicked, this, &VersionsDialog::compare);
    connect(m_save, &QPushButton::clicked, this, &VersionsDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &VersionsDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_progress);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_summary);
    layout->addWidget(buttons);
    resize(900, 600);
}

VersionsDialog::~VersionsDialog()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
}

void VersionsDialog::setComparing(bool on)
{
    for (QWidget *widget : m_settings)
        widget->setEnabled(!on);
    m_compare->setEnabled(!on);
    m_save->setEnabled(!on && m_measured[0] && m_measured[1]);
    m_progress->setVisible(on);
    m_progress->setValue(0);
}

void VersionsDialog::compare()
{
    const QString a = m_a->text(), b = m_b->text();
    if (a.isEmpty() || b.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), tr("Choose both versions, A and B."));
        return;
    }
    Sampling sampling;
    sampling.mode = m_sampling->currentIndex() == 1 ? Sampling::Key : Sampling::All;
    m_measured[0].reset();
    m_measured[1].reset();
    m_comparedA = a;
    m_cancel = false;
    setComparing(true);
    m_summary->setPlainText(tr("Reading both versions..."));
    m_worker = std::thread([this, a, b, sampling] {
        QString failure;
        for (int k = 0; k < 2 && failure.isEmpty() && !m_cancel; ++k) {
            QString why;
            m_measured[k] = measureVersion(
                k == 0 ? a : b, sampling,
                [this, k](const ReadProgress &progress) {
                    QMetaObject::invokeMethod(
                        this, [this, k, progress] { showProgress(k, progress); },
                        Qt::QueuedConnection);
                    return !m_cancel;
                },
                &why);
            if (!m_measured[k] && !m_cancel)
                failure = (k == 0 ? a : b) + QStringLiteral(": ") + why;
        }
        if (failure.isEmpty() && !m_cancel)
            m_alignment = alignVersions(m_measured[0]->film, m_measured[1]->film);
        QMetaObject::invokeMethod(
            this, [this, failure] { finishComparing(failure); }, Qt::QueuedConnection);
    });
}

void VersionsDialog::showProgress(int version, const ReadProgress &progress)
{
    if (isComparing() && progress.fraction >= 0)
        m_progress->setValue(version * 1000 + int(progress.fraction * 1000));
}

void VersionsDialog::finishComparing(const QString &failure)
{
    m_worker.join();
    const bool done = failure.isEmpty() && !m_cancel && m_measured[0] && m_measured[1];
    if (!done) {
        m_measured[0].reset();
        m_measured[1].reset();
    }
    setComparing(false);
    if (!failure.isEmpty()) {
        m_summary->setPlainText(failure);
        QMessageBox::warning(this, windowTitle(), failure);
        return;
    }
    if (!done) {
        m_summary->setPlainText(tr("Cancelled."));
        return;
    }
    m_image = versionsDisplay(m_alignment, *m_measured[0], *m_measured[1], 1600);
    m_display->setPixmap(QPixmap::fromImage(m_image));
    m_display->adjustSize();
    m_summary->setPlainText(versionsSummary(m_alignment, m_measured[0]->film));
}

void VersionsDialog::save()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save the comparison into"),
                                                             QFileInfo(m_comparedA).absolutePath());
    if (folder.isEmpty())
        return;
    const QString base = outputBase(m_comparedA, folder);
    QString why;
    if (!writeVersions(base, QStringLiteral("png"), 1600, m_alignment, *m_measured[0],
                       *m_measured[1], &why)) {
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    m_summary->appendPlainText(tr("Written: %1").arg(versionsFileNames(base, "png").join(", ")));
}

void VersionsDialog::reject()
{
    if (isComparing()) {
        m_cancel = true;
        return;
    }
    QDialog::reject();
}
