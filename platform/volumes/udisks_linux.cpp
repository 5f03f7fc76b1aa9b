// The udisks2 service on the system bus, asked for the ids of a block device where neither udev's
// links nor a probe of the device give them (a system without udev rules, a device only the disk
// service may read). An ordinary user may read these properties on every desktop.
#include <systemd/sd-bus.h>

#include <cstdio>
#include <memory>

#include "platform/volumes/volume_id.h"

namespace tarnwick::platform {

namespace {

constexpr std::uint64_t kAnswerTimeUsec = 1'000'000;

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

// A string property of the Block interface; empty when it cannot be had.
std::string BlockProperty(sd_bus* bus, const std::string& object, const char* name,
                          bool& answered) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* value = nullptr;
    const int result =
        sd_bus_get_property_string(bus, "org.freedesktop.UDisks2", object.c_str(),
                                   "org.freedesktop.UDisks2.Block", name, &error, &value);
    sd_bus_error_free(&error);
    if (result < 0 || value == nullptr) {
        return {};
    }
    answered = true;
    std::string text(value);
    free(value);  // NOLINT: sd-bus hands out malloc'd text
    return text;
}

}  // namespace

std::string UdisksObjectName(std::string_view kernelName) {
    std::string name;
    for (const char c : kernelName) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain) {
            name.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "_%02x", static_cast<unsigned char>(c));
            name += escaped;
        }
    }
    return name;
}

std::optional<VolumeIds> UdisksVolumeIds(const std::string& deviceNode) {
    if (!deviceNode.starts_with("/dev/") || deviceNode.size() <= 5) {
        return std::nullopt;
    }
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0 || raw == nullptr) {
        return std::nullopt;
    }
    const std::unique_ptr<sd_bus, BusCloser> bus(raw);
    sd_bus_set_method_call_timeout(bus.get(), kAnswerTimeUsec);
    const std::string object = "/org/freedesktop/UDisks2/block_devices/" +
                               UdisksObjectName(std::string_view(deviceNode).substr(5));
    bool answered = false;
    VolumeIds ids;
    ids.uuid = BlockProperty(bus.get(), object, "IdUUID", answered);
    if (!answered) {
        return std::nullopt;
    }
    ids.label = BlockProperty(bus.get(), object, "IdLabel", answered);
    return ids;
}

}  // namespace tarnwick::platform
