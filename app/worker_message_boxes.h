#pragma once
// Message boxes from any thread, shown modally on the UI thread. While installed, it is the
// process's message-box handler (platform/message_box): a box raised on the UI thread is shown
// there at once; a box raised by a worker is queued to the UI thread and the worker waits until
// the operator confirms it, while the other workers go on. A missing file on an eight-device
// run thus shows eight boxes, one after another.
//
// Release() ends the waiting when the window closes during a run: boxes open now are confirmed,
// workers waiting for theirs go on at once, and later messages are written to the standard
// error stream instead, so joining the workers can never wait for a box the UI thread will no
// longer show. Destroying the object releases likewise and restores the previous handler.

#include "platform/message_box/message_box.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <set>
#include <string>

class QMessageBox;

namespace kestrel::app {

inline constexpr const char* kMessageBoxCaption = "Kestrel";

class WorkerMessageBoxes {
public:
    // parent: the window the boxes belong to (may be null). Installs the handler.
    explicit WorkerMessageBoxes(QWidget* parent);
    ~WorkerMessageBoxes();
    WorkerMessageBoxes(const WorkerMessageBoxes&) = delete;
    WorkerMessageBoxes& operator=(const WorkerMessageBoxes&) = delete;

    void SetParent(QWidget* parent) { parent_ = parent; }
    // UI thread.
    void Release();
    bool Released() const { return released_.load(); }

private:
    void Show(const std::string& text, const std::string& caption);
    void ShowOnUiThread(const std::string& text, const std::string& caption);

    QPointer<QWidget> parent_;
    std::unique_ptr<QObject> context_; // queued boxes of workers; dropped ones release their worker
    std::set<QMessageBox*> open_;      // UI thread only
    std::atomic<bool> released_{false};
    platform::MessageBoxHandler previous_;
};

} // namespace kestrel::app
