#include "ComMessages.h"

#include <utility>

namespace {
// "СОМ" in messages 1 and 15 is written with Cyrillic letters, as the users know it.
constexpr const char* Texts[16] = {
    "",
    "Спроба відкрити неіснуючий СОМ-порт",
    "Порт зайнятий іншою програмою",
    "Помилка запису в порт.\nНеобхідно повторно відкрити програму!",
    "Помилка читання з порта\nНеобхідно повторно відкрити програму!",
    "Недопустимий параметр Async\nНеобхідно повторно відкрити програму!",
    "Помилка функції PurgeComm\nНеобхідно повторно відкрити програму!",
    "",
    "Помилка функції SetCommState\nНеобхідно повторно відкрити програму!",
    "Помилка функції SetCommTimeouts\nНеобхідно повторно відкрити програму!",
    "Помилка функції SetupComm\nНеобхідно повторно відкрити програму!",
    "Помилка функції ClearCommError\nНеобхідно повторно відкрити програму!",
    "Помилка функції GetCommModemStatus\nНеобхідно повторно відкрити програму!",
    "Помилка функції EscapeCommFunction\nНеобхідно повторно відкрити програму!",
    "Неможна змінювати властивості, доки порт відкритий",
    "Відсутні СОМ-порти!\nНеобхідно повторно відкрити програму!",
};
} // namespace

const char* ComMessageText(int number) {
    return number >= 0 && number < 16 ? Texts[number] : "";
}

EComPort::EComPort(int number) : std::runtime_error(ComMessageText(number)), Number_(number) {}

EComPort::EComPort(int number, std::string detail)
    : std::runtime_error(ComMessageText(number)), Number_(number), Detail_(std::move(detail)) {}
