#pragma once

#include <QString>

#include <functional>

namespace tavix {

// Outcome of one flash or erase: success, or failure with a message saying why.
class FlashResult
{
public:
    enum class Kind
    {
        success,
        failure
    };

    static FlashResult success() { return FlashResult(Kind::success, {}); }
    static FlashResult failure(QString message)
    {
        return FlashResult(Kind::failure, std::move(message));
    }

    Kind kind() const { return m_kind; }
    bool isSuccess() const { return m_kind == Kind::success; }
    // Empty for a success.
    const QString& message() const { return m_message; }

    friend bool operator==(const FlashResult&, const FlashResult&) = default;

private:
    FlashResult(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message))
    {}

    Kind m_kind;
    QString m_message;
};

// Receives the result of an operation, exactly once. May be empty when the caller does not care.
using FlashCompletion = std::function<void(const FlashResult&)>;

}  // namespace tavix
