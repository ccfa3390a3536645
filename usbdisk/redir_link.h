#pragma once
// The disk on QEMU's USB redirection protocol (usb-redir): one connection carries one plugged
// device. The link speaks the device ("usb host") side through libusbredirparser: it announces
// the interface and endpoints and connects the device, answers the control requests the
// emulated host controller forwards (descriptors, configuration, CLEAR_FEATURE of an endpoint
// halt, the mass-storage class requests Get Max LUN and Bulk-Only Mass Storage Reset), and
// passes bulk packets to the bulk-only machine. A bulk-in request that finds nothing to send
// waits until a bulk-out packet gives the machine something.
//
// Serve returns when the peer closes the connection, on a protocol or I/O error, or when the
// pull predicate says the device is to leave the bus (a device pulled mid-run).

#include "usbdisk/bulk_only.h"
#include "usbdisk/usb_descriptors.h"

#include <functional>
#include <string>

struct usbredirparser;

namespace kestrel::usbdisk {

struct LinkStats {
    std::uint64_t controlRequests = 0;
    std::uint64_t bulkPackets = 0;
    std::uint64_t portResets = 0;
    std::uint64_t massStorageResets = 0;
};

class RedirLink {
public:
    // fd: a connected stream socket, owned by the caller (made non-blocking).
    RedirLink(int fd, BulkOnlyMachine& machine, UsbIdentity identity);
    ~RedirLink();
    RedirLink(const RedirLink&) = delete;
    RedirLink& operator=(const RedirLink&) = delete;

    // Serves until the connection ends; `pull` is asked after every packet and makes the device
    // leave when it returns true. Returns a line saying why it ended.
    std::string Serve(const std::function<bool()>& pull);

    const LinkStats& Stats() const { return stats_; }

    // Called by the parser's callbacks (public for them only).
    struct Callbacks;

private:
    void Hello();
    void Control(std::uint64_t id, const void* header, const std::uint8_t* data, int length);
    void Bulk(std::uint64_t id, const void* header, const std::uint8_t* data, int length);
    void AnswerIn(std::uint64_t id, std::uint8_t endpoint, std::size_t maxLength);
    void TryPendingIn();
    bool Flush();

    int fd_;
    BulkOnlyMachine& machine_;
    UsbIdentity identity_;
    ::usbredirparser* parser_ = nullptr;
    bool connected_ = false;
    std::string why_;
    std::uint8_t configuration_ = 0;
    // A bulk-in request waiting for data.
    bool pendingIn_ = false;
    std::uint64_t pendingId_ = 0;
    std::size_t pendingLength_ = 0;
    LinkStats stats_;
};

} // namespace kestrel::usbdisk
