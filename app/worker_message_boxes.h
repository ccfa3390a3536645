#pragma once
// Message boxes from any thread. While installed, it is the process's message-box handler
// (platform/message_box).
//
// A box raised on the UI thread is shown there at once, modal to its window, and returns when
// confirmed. A box raised by a worker blocks only that worker: it is shown without modality, so
// the window stays usable (tabs, log, closing) while boxes wait, and the worker waits until the
// operator confirms it while the other workers go on.
//
// Boxes are kept per device (the device the raising thread names, else the device index the text
// begins with): at most one box of a device is on screen, the others of that device wait in
// order behind it; each box names its device in its title and is placed apart from the boxes of
// the other devices. A text that comes again for a device whose box shows it, or which the
// operator has already confirmed for that device, opens no new box and does not hold the worker
// again: the device's one box shows how many times the text came. A missing file on an
// eight-device run thus shows eight boxes, side by side; a page that keeps failing shows one box
// with a count.
//
// Release() ends all waiting when the window closes: boxes on screen are closed, workers waiting
// for a shown or a queued box go on at once (without any pass of the UI thread's event loop),
// and later messages are written to the standard error stream instead, so joining the workers
// can never wait for a box. Destroying the object releases likewise and restores the previous
// handler.

#include "platform/message_box/message_box.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QMessageBox;

namespace kestrel::app {

inline constexpr const char* kMessageBoxCaption = "Kestrel";
// The key of boxes that name no device.
inline constexpr int kNoDevice = -1;

class WorkerMessageBoxes {
public:
    // Told on the UI thread when a worker of the device starts (true) or stops (false) waiting
    // for the operator.
    using WaitObserver = std::function<void(int device, bool waiting)>;

    // parent: the window the boxes belong to (may be null). Installs the handler.
    explicit WorkerMessageBoxes(QWidget* parent);
    ~WorkerMessageBoxes();
    WorkerMessageBoxes(const WorkerMessageBoxes&) = delete;
    WorkerMessageBoxes& operator=(const WorkerMessageBoxes&) = delete;

    void SetParent(QWidget* parent) { parent_ = parent; }
    void SetWaitObserver(WaitObserver observer) { observer_ = std::move(observer); }
    // UI thread.
    void Release();
    bool Released() const { return released_.load(); }

    // The device's box on screen, or null (UI thread).
    QMessageBox* BoxOf(int device) const;

    // The title of a worker box of the device, and the note that tells how often its text came.
    static QString TitleFor(const std::string& caption, int device);
    static QString RepeatNote(int count);

private:
    class Wait;
    struct Request {
        std::string text;
        std::string caption;
        std::shared_ptr<Wait> wait; // null: nobody waits for this box
    };
    struct Device {
        std::deque<Request> queue; // raised, not yet on screen
        bool onScreen = false;
        std::string shownText;
        std::vector<std::shared_ptr<Wait>> waits; // workers waiting for the box on screen
        std::string lastText;                     // the text that came last
        int count = 0;                            // times lastText came in a row
        bool confirmed = false;                   // the operator confirmed lastText
    };

    void Show(const std::string& text, const std::string& caption);
    void ShowOnUiThread(const std::string& text, const std::string& caption);
    void SchedulePump();
    void Pump();              // UI thread: puts the next box of every free device on screen
    void Closed(int device);  // UI thread: the operator confirmed the device's box
    void Refresh(int device); // UI thread: the count of the box on screen
    void Place(QMessageBox& box, int device) const;

    QPointer<QWidget> parent_;
    std::unique_ptr<QObject> context_; // the UI thread's side of queued calls
    std::atomic<bool> released_{false};
    WaitObserver observer_;
    platform::MessageBoxHandler previous_;

    mutable std::mutex lock_;
    std::map<int, Device> devices_; // guarded by lock_

    std::map<int, QPointer<QMessageBox>> boxes_; // UI thread only
};

} // namespace kestrel::app
