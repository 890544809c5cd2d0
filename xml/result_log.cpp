#include "xml/result_log.h"

#include "text/text.h"
#include "xml/escape.h"

namespace xml {

void ResultLog::add(std::u16string_view event, std::u16string_view textName, std::u16string_view textValue,
                    std::u16string_view numberName, int64_t number, int64_t offset2) {
    if (m_text.size() >= kLimit) return;
    m_text += u'<';
    m_text += event;
    if (!textName.empty()) {
        m_text += u' ';
        m_text += textName;
        m_text += u"=\"";
        m_text += escape(textValue, kEscapeAttribute);
        m_text += u'"';
    }
    if (!numberName.empty()) {
        m_text += u' ';
        m_text += numberName;
        m_text += u"=\"";
        m_text += text::fromInt(number);
        m_text += u'"';
    }
    if (offset2 != kNone) {
        m_text += u" offset2=\"";
        m_text += text::fromInt(offset2);
        m_text += u'"';
    }
    m_text += u"/>";
}

}  // namespace xml
