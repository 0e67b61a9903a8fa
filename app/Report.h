#pragma once
// What an operation of the pixel and display code has to tell the operator
// and the event log, as a result instead of a message box: the controller
// (acquisition/) shows and logs it, in order, on its own thread. A worker
// thread can then run such an operation; it never touches a widget.
#include <string>
#include <utility>
#include <vector>

namespace orvi {

// The icon of a message box: information, or a warning for a failure or a
// refused request.
enum class MessageIcon { Information, Warning };

// One thing to tell: a line for the event log, or a message box.
struct CNotice {
    enum class Kind { Log, Message };
    Kind eKind = Kind::Message;
    std::string strText;
    std::string strCaption;  // of a message box; empty: the application title
    MessageIcon eIcon = MessageIcon::Warning;
};

// The notices of one operation, in the order the operation raised them.
class CReport {
public:
    virtual ~CReport() = default;

    // A line for the event log.
    void Log(std::string strLine) { Add(CNotice{CNotice::Kind::Log, std::move(strLine), {}, MessageIcon::Warning}); }
    // The usual message box with the warning icon (a failure or a refusal).
    void Warn(std::string strText) {
        Add(CNotice{CNotice::Kind::Message, std::move(strText), {}, MessageIcon::Warning});
    }
    // A message box with its own caption and icon.
    void Message(std::string strText, std::string strCaption, MessageIcon eIcon) {
        Add(CNotice{CNotice::Kind::Message, std::move(strText), std::move(strCaption), eIcon});
    }

    const std::vector<CNotice>& Notices() const { return m_notices; }
    bool Empty() const { return m_notices.empty(); }
    void Clear() { m_notices.clear(); }

protected:
    // Every notice as it is added (tests record message boxes here).
    virtual void Added(const CNotice& /*notice*/) {}

private:
    void Add(CNotice notice) {
        m_notices.push_back(std::move(notice));
        Added(m_notices.back());
    }

    std::vector<CNotice> m_notices;
};

}  // namespace orvi
