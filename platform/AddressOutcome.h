#pragma once

#include <QString>

namespace fennimar {

// The result of one read of a browser's current address.
struct AddressOutcome {
    enum class Kind {
        Url,           // text: the address (a web area's address or an address-bar text)
        Unreadable,    // text: "no focused window", "no address found" or "page too large to scan"
        Editing,       // an address-bar text field has keyboard focus; its text may be half-typed
        NoPermission,  // this process is not trusted to read other applications' interfaces
    };
    Kind kind = Kind::Unreadable;
    QString text;

    static AddressOutcome url(QString address) { return {Kind::Url, std::move(address)}; }
    static AddressOutcome unreadable(QString reason) { return {Kind::Unreadable, std::move(reason)}; }
    static AddressOutcome editing() { return {Kind::Editing, {}}; }
    static AddressOutcome noPermission() { return {Kind::NoPermission, {}}; }
    bool operator==(const AddressOutcome &) const = default;

    static constexpr const char *noFocusedWindow = "no focused window";
    static constexpr const char *noAddressFound = "no address found";
    static constexpr const char *pageTooLarge = "page too large to scan";
};

}  // namespace fennimar
