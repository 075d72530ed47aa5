// Status-line rules.
#include "ResponseLabel.h"

namespace {

bool has(const QString& caption, const char* word)
{
    return caption.contains(QLatin1String(word), Qt::CaseInsensitive);
}

} // namespace

ResponseLabelLook LookOfResponseLabel(const QString& caption)
{
    using L = ResponseLabelLook;
    if (has(caption, "error"))
        return {L::Red, L::CustomPointer, false};
    if (has(caption, "[Err"))
        return {L::Red, L::CustomPointer, true};
    if (has(caption, "tidak terhubung"))
        return {L::Red, L::CustomPointer, false};
    if (has(caption, "terhubung"))
        return {L::Green, L::DefaultPointer, false};
    if (has(caption, "..."))
        return {L::Orange, L::DefaultPointer, false};
    return {L::Highlight, L::DefaultPointer, false};
}

ResponseLabelRemedy RemedyForResponseLabel(const QString& caption)
{
    if (has(caption, "error") && has(caption, "apikey"))
        return ResponseLabelRemedy::ApiKeyNotEditable;
    if (has(caption, "error") && has(caption, "company name is required"))
        return ResponseLabelRemedy::RegisterCompany;
    if (has(caption, "[Err"))
        return ResponseLabelRemedy::AskConnectionString;
    return ResponseLabelRemedy::None;
}
