#pragma once
// A callable bound to an object: the object plus one of its member functions.
// Two delegates are equal when they name the same object and the same member,
// so a listener can remove exactly the notification it added.

#include <utility>

template <typename Signature>
class Delegate;

template <typename R, typename... Args>
class Delegate<R(Args...)> {
public:
    Delegate() = default;

    template <auto Method, typename T>
    static Delegate Bind(T* object)
    {
        // One thunk per (class, member): its address identifies the member.
        return Delegate(object, [](void* self, Args... args) -> R {
            return (static_cast<T*>(self)->*Method)(std::forward<Args>(args)...);
        });
    }

    explicit operator bool() const { return thunk_ != nullptr; }
    R operator()(Args... args) const { return thunk_(object_, std::forward<Args>(args)...); }
    bool operator==(const Delegate&) const = default;

private:
    using Thunk = R (*)(void*, Args...);
    Delegate(void* object, Thunk thunk) : object_(object), thunk_(thunk) {}

    void* object_ = nullptr;
    Thunk thunk_ = nullptr;
};
