// What the mail component stand-ins share: their properties, the message
// they compose and its delivery over SMTP.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "base/ascii.h"
#include "standin_members.h"

namespace quorvel::standins {

// One message as a mail component gathers it.
struct MailFields {
    std::u16string from;
    std::vector<std::u16string> to;
    std::u16string subject;
    std::u16string body;
    std::u16string charset;       // the name the text is declared under; the system code page's by default
    std::u16string content_type;  // "text/plain" when empty
    int priority = 0;             // X-Priority, when 1 to 5
    std::u16string server;        // "host[:port]"
    std::u16string user;          // AUTH when not empty
    std::u16string password;
};

// Sends the message. Raises, as the component `source`, an error with a
// number and a description when a field would break the message (CR or LF
// in an address or the subject), when an address is not "box@host" or
// "Name <box@host>" (a name without '<', '>' or '@') with a box@host free of
// '<', '>', blanks and control characters (the sender's or the recipients'
// refusal), or when a field holds a character the code page cannot hold:
// then nothing is sent. Also when the server does not take it.
void DeliverMail(const MailFields& fields, std::u16string_view source);

// The message as it goes on the wire, headers and body, lines ended by CR LF.
std::string ComposeMail(const MailFields& fields, std::string_view date);

// The properties of a mail component, by name (any letter case), from a
// fixed list; a property never written reads empty.
template <typename T, typename Interface>
class MailObject : public automation::AutomationObject<T, Interface> {
public:
    bool HasProperty(std::u16string_view name) const {
        for (const char16_t* known : T::kProperties)
            if (automation::SameName(name, known)) return true;
        return false;
    }
    automation::Value GetProperty(const std::u16string& name) {
        const auto found = values_.find(Key(name));
        return found == values_.end() ? automation::Value() : automation::Value(automation::Variant(found->second));
    }
    void PutProperty(const std::u16string& name, const automation::Variant& value) { values_[Key(name)] = value; }

protected:
    std::u16string Text(std::u16string_view name) const {
        const auto found = values_.find(Key(name));
        return found == values_.end() ? std::u16string() : found->second.Text();
    }
    int Number(std::u16string_view name) const {
        const auto found = values_.find(Key(name));
        return found == values_.end() || found->second.empty() ? 0 : found->second.Long();
    }
    void Clear() { values_.clear(); }

private:
    static std::u16string Key(std::u16string_view name) { return base::ToUpperAscii(name); }
    std::map<std::u16string, automation::Variant> values_;
};

}  // namespace quorvel::standins
