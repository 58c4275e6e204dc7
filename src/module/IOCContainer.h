// IOCContainer.h - a small inversion-of-control container of ready instances.
//
// Registrations are keyed by a 64-bit hash of the registered type's run-time name and
// by a registration name ("Unnamed registration" by default). Registering a type and
// name again replaces the earlier registration.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>

namespace Kestrix {

inline constexpr const wchar_t* kDefaultRegistrationName = L"Unnamed registration";

class IOCFactoryInterface {
public:
    virtual ~IOCFactoryInterface() = default;
    virtual const std::type_info& type() const = 0;
    virtual const std::wstring& name() const = 0;
};

template <class T>
class IOCBaseFactory : public IOCFactoryInterface {
public:
    explicit IOCBaseFactory(std::wstring name) : name_(std::move(name)) {}
    const std::type_info& type() const override { return typeid(T); }
    const std::wstring& name() const override { return name_; }
    std::shared_ptr<T> resolve() const { return create(); }
    virtual std::shared_ptr<T> create() const = 0;

private:
    std::wstring name_;
};

template <class T>
class IOCInstanceReturningFactory : public IOCBaseFactory<T> {
public:
    IOCInstanceReturningFactory(std::wstring name, std::shared_ptr<T> instance)
        : IOCBaseFactory<T>(std::move(name)), instance_(std::move(instance)) {}
    std::shared_ptr<T> create() const override { return instance_; }

private:
    std::shared_ptr<T> instance_;
};

class IOCContainer {
public:
    template <class T>
    void registerInstance(const std::wstring& name, std::shared_ptr<T> instance) {
        auto& byName = registrations_[TypeKey<T>()];
        byName.erase(name);
        byName.emplace(name, std::make_shared<IOCInstanceReturningFactory<T>>(name, std::move(instance)));
    }

    // Drops the registration of a type under a name (nothing when there is none).
    template <class T>
    void unregisterInstance(const std::wstring& name = kDefaultRegistrationName) {
        auto type = registrations_.find(TypeKey<T>());
        if (type != registrations_.end()) type->second.erase(name);
    }

    // The registered instance, or empty when none is registered under that name.
    template <class T>
    std::shared_ptr<T> resolve(const std::wstring& name = kDefaultRegistrationName) const {
        auto type = registrations_.find(TypeKey<T>());
        if (type == registrations_.end()) return nullptr;
        auto found = type->second.find(name);
        if (found == type->second.end()) return nullptr;
        return static_cast<const IOCBaseFactory<T>&>(*found->second).resolve();
    }

private:
    template <class T>
    static uint64_t TypeKey() {
        return static_cast<uint64_t>(std::hash<std::string>{}(typeid(T).name()));
    }

    std::map<uint64_t, std::map<std::wstring, std::shared_ptr<IOCFactoryInterface>>> registrations_;
};

}  // namespace Kestrix
