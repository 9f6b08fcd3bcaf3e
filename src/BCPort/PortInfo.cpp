// The parts of the port facts that read the same on every system.
#include "PortInfo.h"

std::string UsbDescription(const TSerialPortInfo& info) {
    std::string usb = info.Manufacturer;
    if (!info.Product.empty()) {
        // Many makers repeat their name at the start of the product name.
        if (usb.empty() || info.Product.compare(0, usb.size(), usb) == 0) {
            usb = info.Product;
        } else {
            usb += " " + info.Product;
        }
    }
    if (!info.VendorId.empty()) {
        const std::string ids = info.VendorId + ":" + info.ProductId;
        usb = usb.empty() ? "USB " + ids : usb + " (USB " + ids + ")";
    }
    return usb;
}

const char* const ReconnectDeviceFix =
    "Від'єднайте прилад і під'єднайте знову; якщо не допоможе, перезавантажте комп'ютер.";

std::string LatencyAdvice(const TSerialPortInfo& info) {
    if (info.LatencyTimerMs <= 1) {
        return {};
    }
    // Each of a 64 KiB write's 3,072 exchanges (erase, write and commit of each 64-byte
    // block) may wait up to the timer for its reply.
    constexpr int Exchanges = 3 * 1024;
    const int seconds = (Exchanges * info.LatencyTimerMs + 999) / 1000;
    return "Таймер затримки адаптера " + std::to_string(info.LatencyTimerMs) +
           " мс може подовжити запис 64 КБ до " + std::to_string(seconds) + " с. " +
           LowerLatencyFix;
}
