#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace quendle {

// Why a function has no value to return, for people. Made explicitly, so that a function that
// returns an Expected<QString> cannot hand back a reason as its value by mistake.
struct Unexpected
{
    explicit Unexpected(QString text) : reason(std::move(text)) {}
    QString reason;
};

// A value, or the reason there is none: the shape of every GUI-free function that can fail for a
// reason a person reads. std::expected is C++23; this is the part of it the programs use.
template <typename T> class [[nodiscard]] Expected
{
public:
    Expected(T value) : m_value(std::move(value)) {}
    Expected(Unexpected failure) : m_error(std::move(failure.reason)) {}

    bool has_value() const { return m_value.has_value(); }
    explicit operator bool() const { return has_value(); }

    const T& value() const& { return *m_value; }
    T& value() & { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const T& operator*() const& { return *m_value; }
    T&& operator*() && { return std::move(*m_value); }
    const T* operator->() const { return &*m_value; }
    T value_or(T other) const { return m_value ? *m_value : std::move(other); }

    // Empty while there is a value.
    const QString& error() const { return m_error; }

private:
    std::optional<T> m_value;
    QString m_error;
};

// Done, or the reason it was not.
template <> class [[nodiscard]] Expected<void>
{
public:
    Expected() = default;
    Expected(Unexpected failure) : m_failed(true), m_error(std::move(failure.reason)) {}

    bool has_value() const { return !m_failed; }
    explicit operator bool() const { return has_value(); }
    const QString& error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};

} // namespace quendle
