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
    const std::string timer =
        "Таймер затримки адаптера " + std::to_string(info.LatencyTimerMs) + " мс";
    if (info.LowLatencyAtOpen) {
        return timer +
               ": на час запису програма вмикає в драйвері низьку затримку, і таймер працює з "
               "1 мс. Лише якщо драйвер цього не дозволить, запис 64 КБ може тривати до " +
               std::to_string(seconds) + " с. " + LowerLatencyFix;
    }
    return timer + " може подовжити запис 64 КБ до " + std::to_string(seconds) + " с. " +
           LowerLatencyFix;
}

TPortPlaces TPortPlaces::UnderRoot(const std::string& root) {
    TPortPlaces places;
    for (std::string* path : {&places.SysClassTty, &places.DevDir, &places.ById, &places.Proc,
                              &places.UdevData, &places.KernelLog}) {
        *path = root + *path;
    }
    for (std::vector<std::string>* list : {&places.LockDirs, &places.UdevRules}) {
        for (std::string& path : *list) {
            path = root + path;
        }
    }
    return places;
}

std::string HoldersText(const std::vector<TPortHolder>& holders) {
    if (holders.empty()) {
        return "Порт тримає процес, якого цей користувач не бачить.";
    }
    std::string text = holders.size() == 1 ? "Порт тримає: " : "Порт тримають: ";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        const TPortHolder& h = holders[i];
        text += (i == 0 ? "" : ", ") +
                (h.Program.empty() ? std::string("невідома програма") : h.Program) + " (процес " +
                std::to_string(h.Pid);
        if (!h.User.empty()) {
            text += ", користувач " + h.User;
        }
        if (!h.LockFile.empty()) {
            text += ", файл блокування " + h.LockFile;
        }
        text += ")";
    }
    return text;
}

std::string StaleLockText(const TStaleLock& lock) {
    const std::string process = "процес " + std::to_string(lock.Pid);
    std::string why;
    switch (lock.Why) {
    case TStaleLock::TWhy::NoPid:
        why = "у ньому немає номера процесу";
        break;
    case TStaleLock::TWhy::NotAFile:
        why = "це не звичайний файл";
        break;
    case TStaleLock::TWhy::Unreadable:
        why = "його не можна прочитати";
        break;
    case TStaleLock::TWhy::NoProcess:
        why = process + " не існує";
        break;
    case TStaleLock::TWhy::KernelThread:
        why = process + " - потік ядра";
        break;
    case TStaleLock::TWhy::EndedProcess:
        why = process + " завершився";
        break;
    }
    return "Застарілий файл блокування " + lock.File + ": " + why + "; порт він не тримає";
}

std::string ModemManagerIgnoreRule(const TSerialPortInfo& info) {
    return "ACTION==\"add|change\", ATTRS{idVendor}==\"" + info.VendorId +
           "\", ATTRS{idProduct}==\"" + info.ProductId + "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
}

std::vector<std::string> ServiceAdvice(const TSerialPortInfo& info) {
    std::vector<std::string> advice;
    const std::string ids = info.VendorId + ":" + info.ProductId;
    if (info.ModemManagerProbes) {
        advice.push_back(
            "ModemManager перші секунди після під'єднання надсилає в новий USB-порт команди "
            "модема: запис, почата в цей час, зустріне сторонні відповіді або зайнятий порт. "
            "Щоб він не чіпав адаптер " +
            ids + ", додайте правило udev у /etc/udev/rules.d/99-tarvex6.rules: " +
            ModemManagerIgnoreRule(info) +
            ", потім sudo udevadm control --reload-rules і під'єднайте адаптер знову; або "
            "зупиніть службу: sudo systemctl stop ModemManager.");
    }
    if (!info.BrlttyRules.empty() || !info.BrlttyKernelLog.empty()) {
        const std::string file = info.BrlttyRules.substr(info.BrlttyRules.find_last_of('/') + 1);
        std::string text = "brltty (служба брайлівських дисплеїв) ";
        text += info.BrlttyRules.empty() ? "забрала адаптер " + ids
                                         : "за правилом " + info.BrlttyRules +
                                               " забирає адаптери з USB-ідентифікаторами " + ids;
        if (!info.BrlttyKernelLog.empty()) {
            text += " (журнал ядра: " + info.BrlttyKernelLog + ")";
        }
        text += ": порт з'являється й за мить зникає. Якщо брайлівського дисплея немає, "
                "видаліть пакет: sudo apt remove brltty";
        if (!info.BrlttyRules.empty()) {
            text += "; або вимкніть правило: sudo ln -s /dev/null /etc/udev/rules.d/" + file;
        }
        advice.push_back(text + ", потім під'єднайте адаптер знову.");
    }
    return advice;
}
