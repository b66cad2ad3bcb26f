#pragma once
// Fakes of what the add-photos screen gives the intake, and photo files on disk.
#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "import/PhotoIntake.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/TestSupport.h"

namespace intakefixtures {

// Runs the queues only when told, everything on the test's thread.
class ManualExecutor : public IntakeExecutor {
public:
    std::deque<std::function<void()>> queued;
    std::vector<std::function<void()>> delayed;
    void async(Queue, std::function<void()> work) override { queued.push_back(std::move(work)); }
    void syncMain(const std::function<void()>& work) override { work(); }
    void afterDelay(int, std::function<void()> work) override { delayed.push_back(std::move(work)); }
    void shutdown() override {
        queued.clear();
        delayed.clear();
    }
    // Every queued task, then every delayed call, until nothing is left.
    void runAll() {
        while (!queued.empty() || !delayed.empty()) {
            while (!queued.empty()) {
                auto work = std::move(queued.front());
                queued.pop_front();
                work();
            }
            auto later = std::move(delayed);
            delayed.clear();
            for (auto& w : later) w();
        }
    }
};

struct RecordingPresenter : IntakePresenter, IntakeProgressSink {
    std::vector<intake::IntakeAlert> alerts;
    std::vector<intake::IntakeProgress> steps;
    std::vector<intake::BatchFooter> shown;
    bool locked = false;
    std::function<void(const intake::IntakeProgress&)> onProgress;
    void showAlert(const intake::IntakeAlert& alert) override { alerts.push_back(alert); }
    void setUserInteractionEnabled(bool enabled) override { locked = !enabled; }
    void showPhotosAfterCompletion(const intake::BatchFooter& footer) override { shown.push_back(footer); }
    void progressChanged(const intake::IntakeProgress& p) override {
        steps.push_back(p);
        if (onProgress) onProgress(p);
    }
};

// The bytes of a small real JPEG, made once.
inline const QByteArray& smallJpeg() {
    static const QByteArray bytes = platform::encodeImage(testsupport::gradientImage(32, 24), platform::ImageType::JPEG, 0.8);
    return bytes;
}

inline QString photo(const QString& path) { return testsupport::writeFile(path, smallJpeg()); }

}  // namespace intakefixtures
