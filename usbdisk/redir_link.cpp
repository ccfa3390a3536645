// The disk on QEMU's USB redirection protocol (usbdisk/redir_link.h).

#include "usbdisk/redir_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <usbredirparser.h>

namespace kestrel::usbdisk {
namespace {

// Standard requests and the mass-storage class requests served on endpoint 0.
constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetMaxLun = 0xFE;
constexpr std::uint8_t kMassStorageReset = 0xFF;
constexpr std::uint16_t kEndpointHalt = 0;
constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeClass = 0x20;
constexpr std::uint8_t kRecipientMask = 0x1F;
constexpr std::uint8_t kRecipientEndpoint = 0x02;

// Index of an endpoint in the ep_info tables: IN endpoints after the 16 OUT ones.
int EndpointIndex(std::uint8_t endpoint) {
    return ((endpoint & 0x80) >> 3) | (endpoint & 0x0F);
}

RedirLink* Self(void* priv) {
    return static_cast<RedirLink*>(priv);
}

} // namespace

struct RedirLink::Callbacks {
    static int Read(void* priv, std::uint8_t* data, int count) {
        const ssize_t n = ::read(Self(priv)->fd_, data, static_cast<std::size_t>(count));
        if (n == 0) {
            Self(priv)->why_ = "connection closed by the host";
            return -1;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return 0;
            }
            Self(priv)->why_ = std::string("read: ") + std::strerror(errno);
            return -1;
        }
        return static_cast<int>(n);
    }
    static int Write(void* priv, std::uint8_t* data, int count) {
        const ssize_t n = ::write(Self(priv)->fd_, data, static_cast<std::size_t>(count));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return 0;
            }
            Self(priv)->why_ = std::string("write: ") + std::strerror(errno);
            return -1;
        }
        return static_cast<int>(n);
    }
    static void Log(void*, int level, const char* message) {
        if (level <= usbredirparser_warning) {
            std::fprintf(stderr, "usbredir: %s\n", message);
        }
    }
    static void Hello(void* priv, usb_redir_hello_header*) { Self(priv)->Hello(); }
    static void Reset(void* priv) {
        ++Self(priv)->stats_.portResets;
        Self(priv)->pendingIn_ = false;
        Self(priv)->machine_.PortReset();
    }
    static void SetConfiguration(void* priv, std::uint64_t id,
                                 usb_redir_set_configuration_header* header) {
        RedirLink* self = Self(priv);
        usb_redir_configuration_status_header status{};
        if (header->configuration <= 1) {
            self->configuration_ = header->configuration;
            self->machine_.PortReset(); // a new configuration starts with clear endpoints
            status.status = usb_redir_success;
        } else {
            status.status = usb_redir_stall;
        }
        status.configuration = self->configuration_;
        usbredirparser_send_configuration_status(self->parser_, id, &status);
    }
    static void GetConfiguration(void* priv, std::uint64_t id) {
        usb_redir_configuration_status_header status{usb_redir_success, Self(priv)->configuration_};
        usbredirparser_send_configuration_status(Self(priv)->parser_, id, &status);
    }
    static void SetAltSetting(void* priv, std::uint64_t id,
                              usb_redir_set_alt_setting_header* header) {
        usb_redir_alt_setting_status_header status{};
        status.status =
            header->interface == 0 && header->alt == 0 ? usb_redir_success : usb_redir_stall;
        status.interface = header->interface;
        status.alt = 0;
        usbredirparser_send_alt_setting_status(Self(priv)->parser_, id, &status);
    }
    static void GetAltSetting(void* priv, std::uint64_t id,
                              usb_redir_get_alt_setting_header* header) {
        usb_redir_alt_setting_status_header status{};
        status.status = header->interface == 0 ? usb_redir_success : usb_redir_inval;
        status.interface = header->interface;
        usbredirparser_send_alt_setting_status(Self(priv)->parser_, id, &status);
    }
    static void Cancel(void* priv, std::uint64_t id) {
        RedirLink* self = Self(priv);
        if (self->pendingIn_ && self->pendingId_ == id) {
            self->pendingIn_ = false;
            usb_redir_bulk_packet_header header{};
            header.endpoint = kBulkInEndpoint;
            header.status = usb_redir_cancelled;
            usbredirparser_send_bulk_packet(self->parser_, id, &header, nullptr, 0);
        }
    }
    static void Control(void* priv, std::uint64_t id, usb_redir_control_packet_header* header,
                        std::uint8_t* data, int length) {
        Self(priv)->Control(id, header, data, length);
        if (data != nullptr) {
            usbredirparser_free_packet_data(Self(priv)->parser_, data);
        }
    }
    static void Bulk(void* priv, std::uint64_t id, usb_redir_bulk_packet_header* header,
                     std::uint8_t* data, int length) {
        Self(priv)->Bulk(id, header, data, length);
        if (data != nullptr) {
            usbredirparser_free_packet_data(Self(priv)->parser_, data);
        }
    }
};

RedirLink::RedirLink(int fd, BulkOnlyMachine& machine, UsbIdentity identity)
    : fd_(fd), machine_(machine), identity_(std::move(identity)) {
    // The parser reads until a read would block: a blocking socket would keep it waiting for
    // the peer's next packet while the answers to the last one are still unsent.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    parser_ = usbredirparser_create();
    parser_->priv = this;
    parser_->log_func = Callbacks::Log;
    parser_->read_func = Callbacks::Read;
    parser_->write_func = Callbacks::Write;
    parser_->hello_func = Callbacks::Hello;
    parser_->reset_func = Callbacks::Reset;
    parser_->set_configuration_func = Callbacks::SetConfiguration;
    parser_->get_configuration_func = Callbacks::GetConfiguration;
    parser_->set_alt_setting_func = Callbacks::SetAltSetting;
    parser_->get_alt_setting_func = Callbacks::GetAltSetting;
    parser_->cancel_data_packet_func = Callbacks::Cancel;
    parser_->control_packet_func = Callbacks::Control;
    parser_->bulk_packet_func = Callbacks::Bulk;
    std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
    usbredirparser_init(parser_, "kestrel-usb-disk", caps, USB_REDIR_CAPS_SIZE,
                        usbredirparser_fl_usb_host);
}

RedirLink::~RedirLink() {
    usbredirparser_destroy(parser_);
}

void RedirLink::Hello() {
    usb_redir_interface_info_header interfaces{};
    interfaces.interface_count = 1;
    interfaces.interface_class[0] = kInterfaceClassMassStorage;
    interfaces.interface_subclass[0] = kSubclassScsi;
    interfaces.interface_protocol[0] = kProtocolBulkOnly;
    usbredirparser_send_interface_info(parser_, &interfaces);

    usb_redir_ep_info_header endpoints{};
    std::memset(endpoints.type, usb_redir_type_invalid, sizeof endpoints.type);
    endpoints.type[0] = usb_redir_type_control;
    endpoints.type[16] = usb_redir_type_control;
    endpoints.max_packet_size[0] = 64;
    endpoints.max_packet_size[16] = 64;
    for (std::uint8_t endpoint : {kBulkInEndpoint, kBulkOutEndpoint}) {
        const int i = EndpointIndex(endpoint);
        endpoints.type[i] = usb_redir_type_bulk;
        endpoints.max_packet_size[i] = kBulkMaxPacket;
    }
    usbredirparser_send_ep_info(parser_, &endpoints);

    usb_redir_device_connect_header device{};
    device.speed = usb_redir_speed_high;
    device.vendor_id = kVendorId;
    device.product_id = kProductId;
    device.device_version_bcd = identity_.deviceVersionBcd;
    usbredirparser_send_device_connect(parser_, &device);
    connected_ = true;
}

void RedirLink::Control(std::uint64_t id, const void* raw, const std::uint8_t* data, int length) {
    (void)data;
    (void)length;
    ++stats_.controlRequests;
    usb_redir_control_packet_header header =
        *static_cast<const usb_redir_control_packet_header*>(raw);
    const bool in = (header.endpoint & 0x80) != 0;
    std::vector<std::uint8_t> reply;
    bool ok = false;
    const std::uint8_t type = header.requesttype & kTypeMask;
    const std::uint8_t recipient = header.requesttype & kRecipientMask;
    if (type == kTypeStandard && header.request == kGetDescriptor && in) {
        const std::uint8_t kind = static_cast<std::uint8_t>(header.value >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(header.value & 0xFF);
        if (kind == 0x01) {
            reply = DeviceDescriptor(identity_);
            ok = true;
        } else if (kind == 0x02 && index == 0) {
            reply = ConfigurationDescriptor();
            ok = true;
        } else if (kind == 0x03) {
            if (auto text = StringDescriptor(identity_, index)) {
                reply = std::move(*text);
                ok = true;
            }
        }
    } else if (type == kTypeStandard && header.request == kGetStatus && in) {
        reply = {0, 0};
        if (recipient == kRecipientEndpoint) {
            const bool bulkIn = (header.index & 0xFF) == kBulkInEndpoint;
            reply[0] = (bulkIn ? machine_.InHalted() : machine_.OutHalted()) ? 1 : 0;
        }
        ok = true;
    } else if (type == kTypeStandard && header.request == kClearFeature && !in &&
               recipient == kRecipientEndpoint && header.value == kEndpointHalt) {
        const std::uint8_t endpoint = static_cast<std::uint8_t>(header.index & 0xFF);
        if (endpoint == kBulkInEndpoint || endpoint == kBulkOutEndpoint) {
            machine_.ClearHalt(endpoint == kBulkInEndpoint);
            ok = true;
        }
    } else if (type == kTypeClass && header.request == kGetMaxLun && in) {
        reply = {0};
        ok = true;
    } else if (type == kTypeClass && header.request == kMassStorageReset && !in) {
        ++stats_.massStorageResets;
        pendingIn_ = false;
        machine_.MassStorageReset();
        ok = true;
    }
    if (reply.size() > header.length) {
        reply.resize(header.length);
    }
    header.status = ok ? usb_redir_success : usb_redir_stall;
    header.length = static_cast<std::uint16_t>(in ? reply.size() : 0);
    usbredirparser_send_control_packet(parser_, id, &header, in && ok ? reply.data() : nullptr,
                                       in && ok ? static_cast<int>(reply.size()) : 0);
}

void RedirLink::Bulk(std::uint64_t id, const void* raw, const std::uint8_t* data, int length) {
    ++stats_.bulkPackets;
    const auto& header = *static_cast<const usb_redir_bulk_packet_header*>(raw);
    if ((header.endpoint & 0x80) != 0) {
        const std::size_t wanted =
            static_cast<std::size_t>(header.length_high) << 16 | header.length;
        AnswerIn(id, header.endpoint, wanted);
        return;
    }
    usb_redir_bulk_packet_header reply = header;
    reply.length = 0;
    reply.length_high = 0;
    if (header.endpoint != kBulkOutEndpoint) {
        reply.status = usb_redir_inval;
    } else {
        const OutResult result =
            machine_.HostOut({data, static_cast<std::size_t>(length > 0 ? length : 0)});
        reply.status = result == OutResult::kAccepted ? usb_redir_success : usb_redir_stall;
        if (result == OutResult::kAccepted) {
            reply.length = static_cast<std::uint16_t>(length & 0xFFFF);
            reply.length_high = static_cast<std::uint16_t>(length >> 16);
        }
    }
    usbredirparser_send_bulk_packet(parser_, id, &reply, nullptr, 0);
    TryPendingIn();
}

void RedirLink::AnswerIn(std::uint64_t id, std::uint8_t endpoint, std::size_t maxLength) {
    usb_redir_bulk_packet_header reply{};
    reply.endpoint = endpoint;
    if (endpoint != kBulkInEndpoint) {
        reply.status = usb_redir_inval;
        usbredirparser_send_bulk_packet(parser_, id, &reply, nullptr, 0);
        return;
    }
    InResult result = machine_.HostIn(maxLength);
    if (result.kind == InResult::kNak) {
        pendingIn_ = true;
        pendingId_ = id;
        pendingLength_ = maxLength;
        return;
    }
    reply.status = result.kind == InResult::kData ? usb_redir_success : usb_redir_stall;
    const std::size_t n = result.bytes.size();
    reply.length = static_cast<std::uint16_t>(n & 0xFFFF);
    reply.length_high = static_cast<std::uint16_t>(n >> 16);
    usbredirparser_send_bulk_packet(parser_, id, &reply, n != 0 ? result.bytes.data() : nullptr,
                                    static_cast<int>(n));
}

void RedirLink::TryPendingIn() {
    if (pendingIn_) {
        pendingIn_ = false;
        AnswerIn(pendingId_, kBulkInEndpoint, pendingLength_);
    }
}

bool RedirLink::Flush() {
    while (usbredirparser_has_data_to_write(parser_)) {
        if (usbredirparser_do_write(parser_) != 0) {
            if (why_.empty()) {
                why_ = "write error";
            }
            return false;
        }
        if (usbredirparser_has_data_to_write(parser_)) {
            pollfd out{fd_, POLLOUT, 0};
            poll(&out, 1, 1000);
        }
    }
    return true;
}

std::string RedirLink::Serve(const std::function<bool()>& pull) {
    if (!Flush()) {
        return why_;
    }
    while (true) {
        pollfd in{fd_, POLLIN, 0};
        if (poll(&in, 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::string("poll: ") + std::strerror(errno);
        }
        const int read = usbredirparser_do_read(parser_);
        if (read == usbredirparser_read_io_error) {
            return why_.empty() ? "read error" : why_;
        }
        if (read == usbredirparser_read_parse_error) {
            return "protocol error";
        }
        if (!Flush()) {
            return why_;
        }
        if (connected_ && pull && pull()) {
            usbredirparser_send_device_disconnect(parser_);
            Flush();
            return "device pulled";
        }
    }
}

} // namespace kestrel::usbdisk
