#include "app/worker_message_boxes.h"

#include "app/station/message_device.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <cstdio>

namespace kestrel::app {
namespace {

void WriteToStderr(const std::string& text) {
    std::fprintf(stderr, "%s", text.c_str());
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', stderr);
    }
}

bool OnUiThread() {
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Boxes of different devices are cascaded this far apart, so that each one's title shows.
constexpr int kCascadeStep = 32;
constexpr int kCascadeOrigin = 48;
constexpr int kCascadePlaces = 16;

} // namespace

// A worker's wait for its box.
class WorkerMessageBoxes::Wait {
public:
    void Done() {
        {
            std::lock_guard guard(lock_);
            done_ = true;
        }
        changed_.notify_all();
    }
    void Block() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [this] { return done_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
};

WorkerMessageBoxes::WorkerMessageBoxes(QWidget* parent)
    : parent_(parent), context_(std::make_unique<QObject>()) {
    previous_ = platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption) { Show(text, caption); });
}

WorkerMessageBoxes::~WorkerMessageBoxes() {
    Release();
    platform::SetMessageBoxHandler(previous_);
    context_.reset(); // drops the queued calls of the UI side; nobody waits for them any more
}

QString WorkerMessageBoxes::TitleFor(const std::string& caption, int device) {
    QString title = QString::fromStdString(caption.empty() ? kMessageBoxCaption : caption);
    if (device != kNoDevice) {
        title += QStringLiteral(" - Device %1").arg(device);
    }
    return title;
}

QString WorkerMessageBoxes::RepeatNote(int count) {
    return count > 1 ? QStringLiteral("This message came %1 times.").arg(count) : QString();
}

QMessageBox* WorkerMessageBoxes::BoxOf(int device) const {
    auto it = boxes_.find(device);
    return it == boxes_.end() ? nullptr : it->second.data();
}

void WorkerMessageBoxes::Release() {
    std::vector<std::shared_ptr<Wait>> waits;
    {
        std::lock_guard guard(lock_);
        released_.store(true);
        for (auto& [device, d] : devices_) {
            for (Request& r : d.queue) {
                if (r.wait) {
                    waits.push_back(r.wait);
                }
            }
            waits.insert(waits.end(), d.waits.begin(), d.waits.end());
        }
        devices_.clear();
    }
    for (const auto& wait : waits) {
        wait->Done();
    }
    auto boxes = std::move(boxes_);
    boxes_.clear();
    for (auto& [device, box] : boxes) {
        if (box) {
            QObject::disconnect(box.data(), nullptr, context_.get(), nullptr);
            delete box.data();
        }
    }
}

void WorkerMessageBoxes::Show(const std::string& text, const std::string& caption) {
    if (released_.load()) {
        WriteToStderr(text);
        return;
    }
    if (OnUiThread()) {
        ShowOnUiThread(text, caption);
        return;
    }
    if (QCoreApplication::instance() == nullptr) {
        WriteToStderr(text);
        return;
    }
    int device = platform::MessageBoxDevice();
    if (device < 0) {
        device = station::DeviceOfMessage(text).value_or(kNoDevice);
    }
    std::shared_ptr<Wait> wait;
    {
        std::lock_guard guard(lock_);
        if (released_.load()) {
            wait = nullptr;
        } else {
            Device& d = devices_[device];
            if (text == d.lastText) {
                ++d.count;
            } else {
                d.lastText = text;
                d.count = 1;
                d.confirmed = false;
            }
            const bool showing = d.onScreen && d.shownText == text;
            bool queued = false;
            for (const Request& r : d.queue) {
                queued = queued || r.text == text;
            }
            if (d.count > 1 && (d.confirmed || showing || queued)) {
                // Seen before: counted on the device's one box, the worker goes on.
                if (!showing && !queued) {
                    d.queue.push_back(Request{text, caption, nullptr});
                }
            } else {
                wait = std::make_shared<Wait>();
                d.queue.push_back(Request{text, caption, wait});
            }
        }
    }
    if (released_.load() && !wait) {
        WriteToStderr(text);
        return;
    }
    SchedulePump();
    if (wait) {
        wait->Block();
    }
}

void WorkerMessageBoxes::SchedulePump() {
    QMetaObject::invokeMethod(
        context_.get(), [this] { Pump(); }, Qt::QueuedConnection);
}

void WorkerMessageBoxes::Pump() {
    struct NewBox {
        int device;
        Request request;
        int count;
    };
    std::vector<NewBox> shown;
    std::vector<std::pair<int, int>> counts; // boxes on screen and their counts
    {
        std::lock_guard guard(lock_);
        if (released_.load()) {
            return;
        }
        for (auto& [device, d] : devices_) {
            if (!d.onScreen && !d.queue.empty()) {
                Request next = std::move(d.queue.front());
                d.queue.pop_front();
                d.onScreen = true;
                d.shownText = next.text;
                if (next.wait) {
                    d.waits.push_back(next.wait);
                }
                shown.push_back(NewBox{device, std::move(next), 0});
            }
            if (d.onScreen) {
                counts.emplace_back(device, d.shownText == d.lastText ? d.count : 1);
            }
        }
    }
    for (NewBox& n : shown) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, TitleFor(n.request.caption, n.device),
                                    QString::fromStdString(n.request.text), QMessageBox::Ok,
                                    parent_.data());
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        const int device = n.device;
        QObject::connect(box, &QDialog::finished, context_.get(),
                         [this, device] { Closed(device); });
        Place(*box, device);
        boxes_[device] = box;
        box->show();
        if (n.request.wait && observer_) {
            observer_(device, true);
        }
    }
    for (const auto& [device, count] : counts) {
        if (QMessageBox* box = BoxOf(device)) {
            box->setInformativeText(RepeatNote(count));
        }
    }
}

void WorkerMessageBoxes::Closed(int device) {
    std::vector<std::shared_ptr<Wait>> waits;
    {
        std::lock_guard guard(lock_);
        auto it = devices_.find(device);
        if (it == devices_.end()) {
            return;
        }
        Device& d = it->second;
        d.onScreen = false;
        if (d.shownText == d.lastText) {
            d.confirmed = true;
        }
        waits = std::move(d.waits);
        d.waits.clear();
    }
    boxes_.erase(device);
    for (const auto& wait : waits) {
        wait->Done();
    }
    if (!waits.empty() && observer_) {
        observer_(device, false);
    }
    Pump();
}

void WorkerMessageBoxes::Place(QMessageBox& box, int device) const {
    QPoint origin;
    if (parent_) {
        origin = parent_->frameGeometry().topLeft();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        origin = screen->availableGeometry().topLeft();
    }
    const int place = device == kNoDevice ? kCascadePlaces - 1 : device % kCascadePlaces;
    const int offset = kCascadeOrigin + place * kCascadeStep;
    box.move(origin + QPoint(offset, offset));
}

void WorkerMessageBoxes::ShowOnUiThread(const std::string& text, const std::string& caption) {
    // The operator's own action met the error: the box is modal to the window and the action
    // goes on once it is confirmed.
    QMessageBox box(QMessageBox::NoIcon,
                    QString::fromStdString(caption.empty() ? kMessageBoxCaption : caption),
                    QString::fromStdString(text), QMessageBox::Ok, parent_.data());
    box.setWindowModality(parent_ ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

} // namespace kestrel::app
