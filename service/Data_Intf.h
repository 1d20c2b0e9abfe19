#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillet {

class TNodeDict;

// A parameter value: text (UTF-8) or a number.
using TParamValue = std::variant<std::string, int64_t>;

// One network function called through the relay for one account: the function's name
// ("category") and parameters go into the query of Intf_Smart_URL with the account's
// credentials in front.
class TAPICall {
public:
    TAPICall(std::string accessToken, std::string accessSecret);

    void ResetParams();
    void SetSNS(const std::string& name);
    void SetCategory(const std::string& name);
    void AddParam(const std::string& name, const std::string& value);
    void AddParam(const std::string& name, int64_t value);
    void SetParam(std::string_view name, TParamValue value);
    void RemoveParam(std::string_view name);
    std::string BuildURL();
    // Sends the request and returns the reply tree. The pairs are taken and reset first, so
    // a call made while this one is waited for starts from the standard parameters, and a
    // failed call leaves none behind.
    std::unique_ptr<TNodeDict> Execute();

    std::vector<std::string> ParamNames;
    std::vector<TParamValue> ParamValues;
    bool AutoReset = true;
    std::string SNS;
    const std::string AccessToken;
    const std::string AccessSecret;

private:
    int IndexOf(std::string_view name) const;
};

} // namespace quillet
