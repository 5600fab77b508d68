#pragma once

#include <QString>
#include <QUrl>

#include <memory>
#include <variant>
#include <vector>

namespace fennimar {

// Another application's interface tree as the reference address walk sees it: elements with named
// attributes ("AXRole", "AXChildren", ...) whose values are strings, URLs, elements or arrays of
// elements. The macOS layer wraps the Accessibility API's elements in it; tests build trees in memory.
// Main thread only.
class ElementTree {
public:
    class Element;
    using ElementPtr = std::shared_ptr<const Element>;
    using Elements = std::vector<ElementPtr>;
    // No value (missing attribute, failed request, or a value of a type not listed), a string, a
    // URL, an element or an array of elements.
    using Value = std::variant<std::monostate, QString, QUrl, ElementPtr, Elements>;

    class Element {
    public:
        virtual ~Element() = default;
        // One attribute request to the application that owns the element. Blocking, bounded by the
        // implementation's own request time-out; a failure of any kind gives std::monostate.
        virtual Value attribute(const QString &name) const = 0;
    };

    virtual ~ElementTree() = default;

    // Whether this process may read other applications' trees now. Cheap; false on any failure.
    virtual bool isTrusted() = 0;

    // The top element of the application with process id pid, or null when there is none. Cheap (no
    // request is sent until an attribute is asked for).
    virtual ElementPtr application(qint64 pid) = 0;
};

}  // namespace fennimar
