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
    void set(const char *name, ElementTree::Value v) { m_attributes[QLatin1String(name)] = std::move(v); }
    void add(const ElementTree::ElementPtr &child)  // appends a child under "AXChildren"
    {
        auto &v = m_attributes[QStringLiteral("AXChildren")];
        if (!std::holds_alternative<ElementTree::Elements>(v))
            v = ElementTree::Elements{};
        std::get<ElementTree::Elements>(v).push_back(child);
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

    bool isTrusted() override { return trusted; }
    ElementPtr application(qint64 pid) override { return m_apps.value(pid); }

    // A new element with the given role and attribute ("" leaves the role unreadable).
    std::shared_ptr<FakeElement> element(const char *role = "AXGroup", const char *name = nullptr,
                                         ElementTree::Value value = {})
    {
        auto e = std::make_shared<FakeElement>(requests);
        if (*role)
            e->set("AXRole", QString::fromLatin1(role));
        if (name)
            e->set(name, std::move(value));
        return e;
    }
    std::shared_ptr<FakeElement> webArea(const char *url)
    {
        return element("AXWebArea", "AXURL", QUrl(QString::fromLatin1(url)));
    }
    std::shared_ptr<FakeElement> field(const char *text)
    {
        return element("AXTextField", "AXValue", QString::fromLatin1(text));
    }
    // Registers an application whose focused window is window.
    std::shared_ptr<FakeElement> addApplication(qint64 pid, const ElementPtr &window)
    {
        auto app = element("AXApplication", "AXFocusedWindow", window);
        m_apps.insert(pid, app);
        return app;
    }
    // A chain of plain groups below `at`, `levels` long; returns the deepest (`at` for none).
    std::shared_ptr<FakeElement> chain(std::shared_ptr<FakeElement> at, int levels)
    {
        for (int i = 0; i < levels; ++i) {
            auto next = element();
            at->add(next);
            at = next;
        }
        return at;
    }

private:
    QHash<qint64, ElementPtr> m_apps;
};

}  // namespace fennimar::test
