// The message that ends a write, around its time of day (which the tests cannot know).
#pragma once

#include <string>

inline const std::string CompletionLead = "                                         "
                                          "Мікропрограма успішно завантажена в ";
inline const std::string CompletionTail =
    "\r\nПісля запису необхідно провести процедуру встановлення початкових установок (при "
    "наявності)\r\n                  Після запису необхідно провести встановлення "
    "конфігурації (при наявності)";

// `text` with each CR LF as the message box shows it: one line feed.
inline std::string WithLineFeeds(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}
