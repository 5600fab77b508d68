#pragma once

#include "measure/ElementTree.h"

#include <QHash>

#include <map>
#include <memory>

namespace fennimar::test {

// An element built in memory; counts the attribute requests made of its whole tree.
class FakeElement : public ElementTree::Element {
public:
    explicit FakeElement(std::shared_ptr<int> counter) : m_requests(std::move(counter)) {}

    ElementTree::Value attribute(const QString &name) const override
    {
        ++*m_requests;
        const auto it = m_attributes.find(name);
        return it == m_attributes.end() ? ElementTree::Value{} : it->second;
    }

    FakeElement &set(const char *name, ElementTree::Value v)
    {
        m_attributes[QLatin1String(name)] = std::move(v);
        return *this;
    }
    // Appends a child under "AXChildren".
    FakeElement &add(const ElementTree::ElementPtr &child)
    {
        auto &v = m_attributes[QStringLiteral("AXChildren")];
        if (!std::holds_alternative<ElementTree::Elements>(v))
            v = ElementTree::Elements{};
        std::get<ElementTree::Elements>(v).push_back(child);
        return *this;
    }

private:
    std::map<QString, ElementTree::Value> m_attributes;
    std::shared_ptr<int> m_requests;
};

// A tree of applications by process id, with a switch for the trust.
class FakeElementTree : public ElementTree {
public:
    bool trusted = true;
    std::shared_ptr<int> requests = std::make_shared<int>(0);
    int applicationCalls = 0;

    bool isTrusted() override { return trusted; }
    ElementPtr application(qint64 pid) override
    {
        ++applicationCalls;
        return m_apps.value(pid);
    }

    // A new element with the given role ("" leaves the role unreadable).
    std::shared_ptr<FakeElement> element(const char *role = "AXGroup")
    {
        auto e = std::make_shared<FakeElement>(requests);
        if (*role)
            e->set("AXRole", QString::fromLatin1(role));
        return e;
    }
    // Registers an application whose focused window is window (null: no window).
    std::shared_ptr<FakeElement> addApplication(qint64 pid, const ElementPtr &window)
    {
        auto app = element("AXApplication");
        if (window)
            app->set("AXFocusedWindow", window);
        m_apps.insert(pid, app);
        return app;
    }
    // A chain of plain groups below parent, length levels; returns the deepest.
    std::shared_ptr<FakeElement> chain(FakeElement &parent, int levels)
    {
        FakeElement *at = &parent;
        std::shared_ptr<FakeElement> last;
        for (int i = 0; i < levels; ++i) {
            last = element();
            at->add(last);
            at = last.get();
        }
        return last;
    }

private:
    QHash<qint64, ElementPtr> m_apps;
};

}  // namespace fennimar::test
