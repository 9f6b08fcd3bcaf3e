// The parts of the port facts that read the same on every system.
#include "PortInfo.h"

#include <vector>

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

std::string PortSummary(const TSerialPortInfo& info, const TPortSummaryLabels& labels) {
    std::vector<std::string> parts;
    if (info.Driver == "pseudo-terminal") {
        parts.push_back(labels.PseudoTerminal +
                        (info.LinkTarget.empty() ? std::string() : " " + info.LinkTarget));
    } else if (!info.Driver.empty()) {
        parts.push_back(labels.Driver + (" " + info.Driver));
    }
    const std::string usb = UsbDescription(info);
    if (!usb.empty()) {
        parts.push_back(usb);
    }
    if (!info.SerialNumber.empty()) {
        parts.push_back(labels.SerialNumber + (" " + info.SerialNumber));
    }
    if (info.LatencyTimerMs >= 0) {
        parts.push_back(labels.LatencyTimer + (" " + std::to_string(info.LatencyTimerMs)) + " " +
                        labels.Milliseconds);
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : ", ") + part;
    }
    return text;
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
