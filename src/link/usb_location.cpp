#include "link/usb_location.h"

#include <algorithm>

#include "bytes/ascii.h"

namespace iap {
namespace {

struct Element {
    std::string_view name;  // "PCI"
    std::string_view arg;   // "1400"
};

// A decimal number up to 255, as Windows writes USB(n), USBMI(n) and USBROOT(n).
bool number(std::string_view text, unsigned& value) {
    if (text.empty() || text.size() > 3) return false;
    value = 0;
    for (char c : text) {
        if (!isAsciiDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 255;
}

// "NAME(ARG)#NAME(ARG)..." into its elements; false for any other text.
bool split(std::string_view path, std::vector<Element>& out) {
    while (!path.empty()) {
        const size_t end = std::min(path.find('#'), path.size());
        const std::string_view item = path.substr(0, end);
        const size_t open = item.find('(');
        if (open == std::string_view::npos || item.back() != ')') return false;
        const Element e{item.substr(0, open), item.substr(open + 1, item.size() - open - 2)};
        if (!allOf(e.name, isWordChar) || !allOf(e.arg, isWordChar)) return false;
        out.push_back(e);
        if (end == path.size()) break;
        path.remove_prefix(end + 1);
        if (path.empty()) return false;  // a trailing "#"
    }
    return !out.empty();
}

bool named(const Element& e, std::string_view name) { return equalsNoCase(e.name, name); }

// An ACPI name without the "_" that pads it to four characters.
std::string_view acpiName(std::string_view name) {
    while (name.size() > 1 && name.back() == '_') name.remove_suffix(1);
    return name;
}

// Appends part to text, after sep when text is not empty.
void join(std::string& text, char sep, std::string_view part) {
    if (!text.empty()) text += sep;
    text.append(part);
}

// The chain of one path; pci tells whether it was a PCI path.
std::string convert(std::string_view path, bool& pci) {
    pci = false;
    std::vector<Element> e;
    if (!split(path, e)) return {};
    unsigned n = 0;
    // An interface of a composite device is on its device's port.
    if (named(e.back(), "USBMI") && number(e.back().arg, n)) e.pop_back();
    // The hub ports: the USB(n) at the end.
    size_t first = e.size();
    while (first > 0 && named(e[first - 1], "USB") && number(e[first - 1].arg, n) && n > 0) --first;
    std::string ports;
    for (size_t i = first; i < e.size(); ++i) {
        number(e[i].arg, n);
        join(ports, '.', std::to_string(n));
    }
    if (first < 2) return {};
    std::string controller;
    const Element& above = e[first - 1];
    if (named(above, "USBROOT")) {
        pci = true;
        unsigned root = 0;
        if (ports.empty() || !number(above.arg, root)) return {};
        for (size_t i = 0; i + 1 < first; ++i) {
            if (named(e[i], "USBROOT") || named(e[i], "USB")) return {};
            join(controller, '_', e[i].name);
            controller.append(e[i].arg);
        }
        if (root != 0) controller += "_USBROOT" + std::to_string(root);
        return controller + "-" + ports;
    }
    // An ACPI path names the root hub RHUB and its port, which stands first.
    if (!named(e[first - 2], "ACPI") || acpiName(e[first - 2].arg) != "RHUB") return {};
    for (size_t i = 0; i < first; ++i) {
        if (!named(e[i], "ACPI")) return {};
        if (i + 1 < first) join(controller, '.', acpiName(e[i].arg));
    }
    std::string chain = controller + "-";
    chain.append(acpiName(above.arg));
    if (!ports.empty()) join(chain, '.', ports);
    return chain;
}

}  // namespace

std::string portChainFromLocationPath(std::string_view path) {
    bool pci = false;
    return convert(path, pci);
}

std::string portChainFromLocationPaths(const std::vector<std::string>& paths) {
    std::string fallback;
    for (const std::string& path : paths) {
        bool pci = false;
        std::string chain = convert(path, pci);
        if (chain.empty()) continue;
        if (pci) return chain;
        if (fallback.empty()) fallback = std::move(chain);
    }
    return fallback;
}

}  // namespace iap
