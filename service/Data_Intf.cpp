#include "service/Data_Intf.h"

#include <cctype>

#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/web_connect.h"
#include "platform/Uri.h"

namespace quillet {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string TextOf(const TParamValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    return std::to_string(std::get<int64_t>(value));
}

} // namespace

TAPICall::TAPICall(std::string accessToken, std::string accessSecret)
    : AccessToken(std::move(accessToken)), AccessSecret(std::move(accessSecret)) {
    ResetParams();
}

void TAPICall::ResetParams() {
    ParamNames = {"sns", "access_token"};
    ParamValues = {SNS, AccessToken};
    if (AccessSecret.empty())
        return;
    ParamNames.push_back("access_secret");
    ParamValues.push_back(AccessSecret);
}

void TAPICall::SetSNS(const std::string& name) {
    SNS = name;
    SetParam("sns", name);
}

void TAPICall::SetCategory(const std::string& name) {
    AddParam("category", name);
}

void TAPICall::AddParam(const std::string& name, const std::string& value) {
    // Line ends become single line feeds on the way, as every text sent to the relay.
    ParamNames.push_back(name);
    ParamValues.push_back(WideToUtf8(Utf8ToWide(value)));
}

void TAPICall::AddParam(const std::string& name, int64_t value) {
    ParamNames.push_back(name);
    ParamValues.emplace_back(std::in_place_type<int64_t>, value);
}

int TAPICall::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < ParamNames.size(); ++i)
        if (SameName(ParamNames[i], name))
            return static_cast<int>(i);
    return -1;
}

void TAPICall::SetParam(std::string_view name, TParamValue value) {
    const int i = IndexOf(name);
    if (i >= 0)
        ParamValues[i] = std::move(value);
}

void TAPICall::RemoveParam(std::string_view name) {
    const int i = IndexOf(name);
    if (i < 0)
        return;
    ParamNames.erase(ParamNames.begin() + i);
    ParamValues.erase(ParamValues.begin() + i);
}

std::string TAPICall::BuildURL() {
    RemoveParam("func_name");
    std::string url = IntfSmartURL + "?";
    for (size_t i = 0; i < ParamNames.size(); ++i) {
        if (i > 0)
            url += '&';
        url += ParamNames[i] + "=" + PercentEncode(TextOf(ParamValues[i]));
    }
    return url;
}

std::unique_ptr<TNodeDict> TAPICall::Execute() {
    const std::string url = BuildURL();
    if (AutoReset)
        ResetParams();
    return RequestChecked(url);
}

} // namespace quillet
