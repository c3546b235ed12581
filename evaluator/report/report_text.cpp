#include "report/report_text.hpp"

#include "core/replacing_file.hpp"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace vntr::report {

bool IsUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t more = 0;
        uint32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07u;
        } else {
            return false; // a continuation byte, C0, C1 or F5..FF
        }
        if (text.size() - i <= more) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            code = code << 6 | (next & 0x3Fu);
        }
        if (more == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return false;
        if (more == 3 && (code < 0x10000 || code > 0x10FFFF)) return false;
        i += more + 1;
    }
    return true;
}

std::string EscapedBytes(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '%') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xF];
        }
    }
    return escaped;
}

void MarkRawBytes(nlohmann::json &value) {
    using nlohmann::json;
    if (value.is_array()) {
        for (auto &element : value) MarkRawBytes(element);
        return;
    }
    if (!value.is_object()) return;
    std::vector<std::pair<std::string, json>> added;
    for (auto it = value.begin(); it != value.end(); ++it) {
        json &member = it.value();
        if (member.is_string()) {
            const auto &text = member.get_ref<const std::string &>();
            if (!IsUtf8(text)) added.emplace_back(it.key() + "Bytes", EscapedBytes(text));
        } else if (member.is_array()) {
            json raw = json::array();
            bool any = false;
            for (const auto &element : member) {
                if (element.is_string() && !IsUtf8(element.get_ref<const std::string &>())) {
                    raw.push_back(EscapedBytes(element.get_ref<const std::string &>()));
                    any = true;
                } else {
                    raw.push_back(nullptr);
                }
            }
            if (any) added.emplace_back(it.key() + "Bytes", std::move(raw));
            MarkRawBytes(member);
        } else {
            MarkRawBytes(member);
        }
    }
    for (auto &[key, raw] : added) value[key] = std::move(raw);
}

std::string ReportText(const nlohmann::json &value) {
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string SystemReason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

bool WriteReport(const std::string &path, const std::string &text, std::string &error) {
    evaluator::ReplacingFile file;
    errno = 0;
    if (!file.Create(path)) {
        error = "cannot create " + path + SystemReason();
        return false;
    }
    if (std::fwrite(text.data(), 1, text.size(), file.File()) != text.size() || !file.Commit()) {
        error = "cannot write " + path + SystemReason();
        return false;
    }
    return true;
}

} // namespace vntr::report
