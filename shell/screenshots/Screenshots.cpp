// Draws a small batch of photos, opens the main window offscreen on each screen in turn and
// saves a picture of it, for the README. Run through scripts/screenshots.sh, which gives it a
// home of its own so nothing of the user's settings is read or written.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <QThread>
#include <cmath>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "batch/RenamePreviewRecomputer.h"
#include "batch/ui/ConvertFormatOrRenameView.h"
#include "batch/ui/SetupVC.h"
#include "batch/ui/SummaryController.h"
#include "editor/ui/AdjustFilterVC.h"
#include "platform/foundation/BusErrorGuard.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/workspace/Workspace.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "shell/AppLaunch.h"
#include "shell/MainWindowController.h"

namespace {

// A landscape: sky, sun, two rows of hills and a lake, in colours that differ per photo.
QImage drawLandscape(int index, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double hue = std::fmod(0.55 + 0.13 * index, 1.0);
    QLinearGradient sky(0, 0, 0, height * 0.6);
    sky.setColorAt(0, QColor::fromHsvF(hue, 0.55, 0.95));
    sky.setColorAt(1, QColor::fromHsvF(std::fmod(hue + 0.08, 1.0), 0.25, 1.0));
    p.fillRect(image.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 236, 160));
    p.drawEllipse(QPointF(width * (0.2 + 0.12 * (index % 5)), height * 0.25), height * 0.09, height * 0.09);
    for (int row = 0; row < 2; ++row) {
        QPainterPath hills;
        hills.moveTo(0, height);
        const double base = height * (0.55 + 0.12 * row);
        for (int x = 0; x <= width; x += width / 40) {
            hills.lineTo(x, base - height * 0.08 * std::sin(x * (0.006 + 0.002 * row) + index));
        }
        hills.lineTo(width, height);
        p.setBrush(QColor::fromHsvF(std::fmod(0.28 + 0.04 * row + 0.02 * index, 1.0), 0.6, 0.55 - 0.15 * row));
        p.drawPath(hills);
    }
    p.setBrush(QColor::fromHsvF(hue, 0.5, 0.7, 0.85));
    p.drawRect(QRectF(0, height * 0.85, width, height * 0.15));
    return image;
}

// The run's "open the output folder" and the summary's links stay inside the program.
struct QuietWorkspace : platform::Workspace {
    bool openURL(const QUrl&) override { return false; }
    bool openFile(const QString&) override { return false; }
    bool selectFile(const QString&) override { return false; }
    bool showInfo(const QString&) override { return false; }
};

// Waits for a condition, handling events meanwhile; false after `ms`.
bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void click(QAbstractButton* button) {
    if (button && button->isEnabled()) button->click();
    QCoreApplication::processEvents();
}

// Lets queued work (thumbnails, previews, re-planning) finish for a while.
void settle(int ms) { waitFor([] { return false; }, ms); }

bool save(QWidget* window, const QString& path) {
    const QPixmap shot = window->grab();
    const bool ok = !shot.isNull() && shot.save(path, "PNG");
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << '\n';
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread: files read while another program cuts them stop no process.
    platform::busguard::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BriskoPhotos"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brisko Photos"));
    const QString out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath();
    QDir().mkpath(out);

    // The batch: six photos in the home's Pictures folder.
    const QString photos = QDir::home().filePath(QStringLiteral("Pictures/Holiday"));
    QDir().mkpath(photos);
    AppDelegate& shared = AppDelegate::shared();
    LaunchOptions options;
    options.openMainWindow = false;
    AppLaunch::applicationDidFinishLaunching(options);
    // A user who has read the first-use tips: none covers the screens.
    platform::UserDefaults::standardUserDefaults().setObject(true, QString::fromLatin1(platform::DefaultsKey::TipsIsDisable));
    for (int i = 0; i < 6; ++i) {
        const QString path = QDir(photos).filePath(QStringLiteral("IMG_%1.jpg").arg(4101 + i));
        if (!platform::writeImageFile(path, drawLandscape(i, 1600, 1067), platform::ImageType::JPEG, 0.9, {})) return 1;
        shared.arraySelectedImagesToProcess << PhotoFile::initWithFileUrl(path, false);
    }
    shared.selectedImageIndex = 0;
    shared.selectedImageFile = shared.arraySelectedImagesToProcess.first();
    shared.isSELECTED_IMAGE_CHANGED = true;

    MainWindowController window;
    window.resize(1280, 800);
    window.show();
    bool ok = true;

    window.showScreen(MainWindowController::ScreenAddPhotos);
    window.photosChangedNotification();
    settle(1500);
    ok &= save(&window, QDir(out).filePath(QStringLiteral("screen-add-photos.png")));

    // Effects: a vignette added to the batch's steps, a twirl on the preview being set up.
    window.btnNextFromAddPhotosVcTapped();
    settle(1500);
    AdjustFilterVC* effects = window.adjustFilterVC();
    effects->selectEffectByName(QStringLiteral("CIVignetteEffect"), QStringLiteral("Vignette Effect"));
    settle(800);
    click(effects->btnApplyFilter());
    settle(800);
    effects->selectEffectByName(QStringLiteral("CITwirlDistortion"), QStringLiteral("Twirl Distortion"));
    settle(1500);
    ok &= save(&window, QDir(out).filePath(QStringLiteral("screen-effects.png")));

    // Output: copies into Holiday/Edited, renamed "Holiday" with a number in front.
    window.showScreen(MainWindowController::ScreenSetup);
    SetupVC* setup = window.setupVC();
    QuietWorkspace quiet;
    setup->summaryController->setWorkspace(&quiet);
    ConvertFormatOrRenameView* view = setup->vwConvertFormatOrRename;
    view->recomputer()->setDebounceInterval(0);
    const QString edited = QDir(photos).filePath(QStringLiteral("Edited"));
    QDir().mkpath(edited);
    view->setFolderChooser([edited](QWidget*, const QString&, std::function<void(QString)> done) { done(edited); });
    click(setup->findChild<QPushButton*>(QStringLiteral("btnSelectFolder")));
    if (auto* open = setup->findChild<QCheckBox*>(QStringLiteral("checkboxOpenFolderAfterProcess")); open && open->isChecked())
        click(open);
    click(setup->findChild<QRadioButton*>(QStringLiteral("btnRenameModeModifyName")));
    click(setup->findChild<QCheckBox*>(QStringLiteral("checkboxReplaceFileName")));
    if (auto* name = setup->findChild<QLineEdit*>(QStringLiteral("txtReplaceFileName"))) {
        name->setText(QStringLiteral("Holiday"));
        emit name->textEdited(name->text());
    }
    click(setup->findChild<QCheckBox*>(QStringLiteral("checkboxAddDigit")));
    settle(1500);
    ok &= save(&window, QDir(out).filePath(QStringLiteral("screen-output.png")));

    // Summary: the batch run to its end.
    bool finished = false;
    QObject::connect(setup->summaryController, &SummaryController::summaryShown, [&](bool) { finished = true; });
    click(setup->findChild<QPushButton*>(QStringLiteral("btnStartProcess")));
    if (QMessageBox* question = setup->startQuestion()) click(question->button(QMessageBox::Yes));
    if (!waitFor([&] { return finished; }, 120000)) {
        QTextStream(stdout) << "the run did not end\n";
        return 1;
    }
    settle(500);
    ok &= save(&window, QDir(out).filePath(QStringLiteral("screen-summary.png")));
    return ok ? 0 : 1;
}
