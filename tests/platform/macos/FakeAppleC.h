#pragma once

// A fake of platform/macos/sdk/AppleC.h on Linux; refcounted objects (liveObjects()), answers via state().

#include "platform/macos/CFHelpers.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <variant>
#include <vector>

namespace fennimar::fake {

// Objects created and not yet freed (the constants kCFBooleanTrue, kSec... are not counted).
long liveObjects();

// One scripted Accessibility element: attribute name -> what a request for it answers.
struct AXUrl {
    QString text;
};
using AXAnswer = std::variant<AXError, QString, AXUrl, int /* node */, std::vector<int> /* nodes */>;
struct AXNode {
    std::map<QString, AXAnswer> attributes;
};

struct KeychainItem {
    QByteArray data;
    QString accessible;  // the kSecAttrAccessible value given when added
};

struct State {
    bool trusted = true;
    std::vector<AXNode> nodes;  // node 0 is the application element of every pid
    int answeredRequests = -1;  // requests answered before the application stops answering; -1 = all
    AXError stoppedError = kAXErrorCannotComplete;
    int requests = 0;
    std::function<void()> onRequest;  // called at every attribute request (a test's clock moves there)
    float systemWideTimeout = 0;
    // The login session; null: outside one.
    macos::CFPtr<CFDictionaryRef> session;
    std::map<std::pair<QString, QString>, KeychainItem> items;
    OSStatus updateFailure = 0;  // what SecItemUpdate answers instead of updating
    // IOPMCopyAssertionsByProcess: pid -> (AssertType, AssertLevel; a level below 0 is left out)
    std::map<int, std::vector<std::pair<QString, int> > > assertions;
    IOReturn assertionsFailure = 0;  // what it answers instead of a dictionary
};
State &state();
// Clears the state, releasing what it owns.
void reset();

}  // namespace fennimar::fake
