#include "app/worker_message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QThread>

#include <cstdio>
#include <future>

namespace kestrel::app {
namespace {

// A worker's wait for its box. Whatever becomes of the queued call (run, or dropped because the
// UI side went away), the last owner's destruction lets the worker go on.
class BoxWait {
public:
    ~BoxWait() { Done(); }
    std::future<void> Future() { return done_.get_future(); }
    void Done() {
        if (!set_.exchange(true)) {
            done_.set_value();
        }
    }

private:
    std::promise<void> done_;
    std::atomic<bool> set_{false};
};

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

} // namespace

WorkerMessageBoxes::WorkerMessageBoxes(QWidget* parent)
    : parent_(parent), context_(std::make_unique<QObject>()) {
    previous_ = platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption) { Show(text, caption); });
}

WorkerMessageBoxes::~WorkerMessageBoxes() {
    Release();
    platform::SetMessageBoxHandler(previous_);
    context_.reset(); // drops the boxes still queued, which lets their workers go on
}

void WorkerMessageBoxes::Release() {
    released_.store(true);
    const std::set<QMessageBox*> open = open_;
    for (QMessageBox* box : open) {
        box->done(QMessageBox::Ok);
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
    auto wait = std::make_shared<BoxWait>();
    std::future<void> done = wait->Future();
    QMetaObject::invokeMethod(
        context_.get(),
        [this, wait, text, caption] {
            if (released_.load()) {
                WriteToStderr(text);
            } else {
                ShowOnUiThread(text, caption);
            }
            wait->Done();
        },
        Qt::QueuedConnection);
    wait.reset();
    done.wait();
}

void WorkerMessageBoxes::ShowOnUiThread(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon,
                    QString::fromStdString(caption.empty() ? kMessageBoxCaption : caption),
                    QString::fromStdString(text), QMessageBox::Ok, parent_.data());
    box.setWindowModality(Qt::ApplicationModal);
    open_.insert(&box);
    box.exec();
    open_.erase(&box);
}

} // namespace kestrel::app
