#include "app/kestrel_app.h"

#include "app/kestrel_dlg.h"
#include "app/worker_message_boxes.h"

namespace kestrel::app {

int CKestrelApp::Run(station::StationLibrary library) {
    library.initDeviceSet();
    WorkerMessageBoxes boxes(nullptr);
    {
        CKestrelDlg dialog(std::move(library), &boxes);
        boxes.SetParent(&dialog);
        dialog.exec();
        boxes.SetParent(nullptr);
    }
    return 0;
}

} // namespace kestrel::app
