#pragma once

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <type_traits>
#include <utility>

namespace quendle {

// Why a function has no value to return: for people (a QString), or a failure of a kind of its
// own that carries more than words. Made explicitly, so that a function that returns an
// Expected<QString> cannot hand back a reason as its value by mistake.
template <typename E = QString> struct Unexpected
{
    explicit Unexpected(E failure) : reason(std::move(failure)) {}
    E reason;
};
Unexpected(const char*)->Unexpected<QString>;

namespace detail {
[[noreturn]] inline void valueOfAFailure()
{
    std::fputs("Expected::value() asked of a failure\n", stderr);
    std::abort();
}
} // namespace detail

// A value, or the reason there is none: the shape of every GUI-free function that can fail.
// std::expected is C++23; this is the part of it the programs use. Asking a failure for its value
// is a programming error and ends the program, in every build.
template <typename T, typename E = QString> class [[nodiscard]] Expected
{
public:
    Expected(T value) : m_value(std::move(value)) {}
    template <typename F>
    requires std::is_constructible_v<E, F> Expected(Unexpected<F> failure)
        : m_error(std::move(failure.reason))
    {
    }

    bool has_value() const { return m_value.has_value(); }
    explicit operator bool() const { return has_value(); }

    const T& value() const& { return checked(); }
    T& value() & { return const_cast<T&>(checked()); }
    T&& value() && { return std::move(const_cast<T&>(checked())); }
    const T& operator*() const& { return checked(); }
    T&& operator*() && { return std::move(const_cast<T&>(checked())); }
    const T* operator->() const { return &checked(); }
    T value_or(T other) const { return m_value ? *m_value : std::move(other); }

    // Empty (default-made) while there is a value.
    const E& error() const { return m_error; }

private:
    const T& checked() const
    {
        if (!m_value)
            detail::valueOfAFailure();
        return *m_value;
    }

    std::optional<T> m_value;
    E m_error{};
};

// Done, or the reason it was not.
template <typename E> class [[nodiscard]] Expected<void, E>
{
public:
    Expected() = default;
    template <typename F>
    requires std::is_constructible_v<E, F> Expected(Unexpected<F> failure)
        : m_failed(true), m_error(std::move(failure.reason))
    {
    }

    bool has_value() const { return !m_failed; }
    explicit operator bool() const { return has_value(); }
    const E& error() const { return m_error; }

private:
    bool m_failed = false;
    E m_error{};
};

} // namespace quendle
