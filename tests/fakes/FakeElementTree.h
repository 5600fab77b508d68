#pragma once

#include "platform/ElementTree.h"

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
        if (auto *children = std::get_if<ElementTree::Elements>(&v))
            return children->push_back(child);
        v = ElementTree::Elements{child};
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
    QHash<qint64, ElementPtr> apps;
    bool isTrusted() override { return trusted; }
    ElementPtr application(qint64 pid) override { return apps.value(pid); }

    std::shared_ptr<FakeElement> element(const char *role = "AXGroup", const char *name = nullptr,
                                         ElementTree::Value value = {})
    {
        auto e = std::make_shared<FakeElement>(requests);
        e->set("AXRole", QString::fromLatin1(role));
        if (name)
            e->set(name, std::move(value));
        return e;
    }
};

}  // namespace fennimar::test
