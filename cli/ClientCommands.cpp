#include "cli/ClientCommands.h"

#include "cli/Session.h"
#include "cli/TreeFormat.h"
#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/web_connect.h"
#include "platform/Uri.h"
#include "service/SignIn.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <iterator>
#include <optional>

namespace quillet {

namespace {

constexpr std::string_view TooLongText = "字数超出限制！";
constexpr std::string_view EmptyStatusText = "输入内容不能为空！";
constexpr std::string_view RepeatedStatusText = "请不要重复发表微博！";
constexpr std::string_view PostedText = "发表成功！";

// A command's own arguments with "--json" taken out.
struct TOptions {
    std::vector<std::string> words;
    bool json = false;
};

TOptions ReadOptions(const TArgs& args) {
    TOptions options;
    for (const std::string& arg : args) {
        if (arg == "--json")
            options.json = true;
        else
            options.words.push_back(arg);
    }
    return options;
}

// The items 1 to Count of a list under key, as a reply holds them.
std::vector<const TNode*> Items(const TNode* node, std::string_view key) {
    std::vector<const TNode*> items;
    if (const TNodeList* list = ListAt(node, key))
        for (int i = 1; i <= list->Count(); ++i)
            items.push_back(list->GetByIndex(i));
    return items;
}

std::string DisplayTime(const std::string& serviceTime) {
    try {
        return FormatServiceTime(serviceTime);
    } catch (const Exception&) {
        return std::string(); // an unreadable time is left out, not the status
    }
}

void PrintStatus(const TNode* status, std::ostream& out, const std::string& indent = "") {
    const TNode* user = DictAt(status, "user");
    out << indent << TextAt(user, "screen_name");
    if (const std::string time = DisplayTime(TextAt(status, "time")); !time.empty())
        out << "  " << time;
    if (const std::string app = TextAt(status, "application"); !app.empty())
        out << "  来自 " << app;
    out << "\n" << indent << TextAt(DictAt(status, "text"), "text") << "\n";
    if (const std::string picture = TextAt(DictAt(status, "image"), "large_url"); !picture.empty())
        out << indent << "  picture: " << picture << "\n";
    if (const TNode* repost = DictAt(status, "retweet")) {
        out << indent << "  reposted:\n";
        PrintStatus(repost, out, indent + "    ");
    }
    out << indent << "  id " << TextAt(status, "id") << "  comments "
        << IntegerAt(status, "comment_count") << "  reposts " << IntegerAt(status, "retweet_count")
        << "  likes " << IntegerAt(status, "good_count") << "  favorites "
        << IntegerAt(status, "favor_count") << "\n";
}

void PrintUser(const TNode* user, std::ostream& out) {
    out << TextAt(user, "screen_name") << "  (id " << TextAt(user, "id") << ")";
    if (IntegerAt(user, "verified") != 0)
        out << "  verified";
    out << "\n  follows " << IntegerAt(user, "follow_count") << "  followers "
        << IntegerAt(user, "follower_count") << "\n";
    for (const char* key : {"description", "gender", "location", "website"})
        if (const std::string value = TextAt(user, key); !value.empty())
            out << "  " << key << ": " << value << "\n";
}

// A reply the relay refused ("_error"): its text as a failure of the command.
void CheckRefusal(const TNodeDict& reply) {
    if (reply.ContainsKey("_error"))
        throw ECliError("the relay refused: " + TextAt(&reply, "_error"));
}

int PrintReply(const TNodeDict& reply, bool json, std::ostream& out) {
    if (json) {
        PrintTreeJson(reply, out);
        out << "\n";
    }
    return 0;
}

std::unique_ptr<TNodeDict> Call(TAccount& account, const std::string& category,
                                const std::vector<std::pair<std::string, std::string>>& params) {
    account.APICall->SetCategory(category);
    for (const auto& [name, value] : params)
        account.APICall->AddParam(name, value);
    return account.APICall->Execute();
}

const std::string& SignInAddress(TAccount_Type type) {
    switch (type) {
    case atTwitter:
        return IntfTwitterURL;
    case atFacebook:
        return IntfFacebookURL;
    default:
        return IntfSinaURL;
    }
}

std::string ReadAll(std::istream& in) {
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Trimmed(std::string text) {
    const auto blank = [](unsigned char c) { return std::isspace(c); };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    return text;
}

std::string AuthorizationReply(TAccount_Type type, std::istream& in, std::ostream& out) {
    out << "Sign in at: " << SignInAddress(type) << "/oauth\n";
    if (type != atTwitter) {
        out << "Then paste the text of the page you land on (end with Ctrl-D):" << std::endl;
        return ReadAll(in);
    }
    out << "Then type the PIN the page shows:" << std::endl;
    std::string pin;
    std::getline(in, pin);
    return RequestText(IntfTwitterURL + "/callback?pincode=" + PercentEncode(Trimmed(pin)));
}

void RememberSignedIn(const TUser& user) {
    const TAccount* first = user.FirstAccount();
    RememberSession(user.ID, first ? AccountKey(*first) : std::string());
}

} // namespace

int RunSignIn(const TArgs& args, std::istream& in, std::ostream& out) {
    const std::optional<TAccount_Type> type =
        args.size() == 1 ? AccountTypeOf(args[0]) : std::nullopt;
    if (!type)
        throw ECliError("usage: quillet-cli signin sina|twitter|facebook");
    const std::string reply = AuthorizationReply(*type, in, out);
    std::unique_ptr<TUser> signedIn;
    if (const std::string id = LoadUser(); !id.empty())
        signedIn = std::make_unique<TUser>(id);
    const TSignInResult result = HandleAuthorizationReply(reply, signedIn.get());
    switch (result.Outcome) {
    case TSignInOutcome::soNewUser:
    case TSignInOutcome::soExistingUser:
        RememberSignedIn(*result.User);
        out << SignInSuccessText << "\n";
        return 0;
    case TSignInOutcome::soAccountAdded:
        out << AccountAddedText << "\n";
        return 0;
    case TSignInOutcome::soOwned:
        out << AccountOwnedText << "\n";
        return 1;
    case TSignInOutcome::soRefused:
        break;
    }
    throw ECliError("the sign-in was refused");
}

int RunAccounts(const TArgs&, std::ostream& out) {
    const TCliSession session = TCliSession::Open();
    for (TAccount_Type type : {atSina, atTwitter, atFacebook}) {
        for (int i = 0; i < session.User().AccountCount(type); ++i) {
            const TAccount* account = session.User().GetAccount(type, i);
            out << (account == &session.Account() ? "* " : "  ") << AccountKey(*account) << "  "
                << account->AccountInfo.ScreenName << "\n";
        }
    }
    return 0;
}

int RunUse(const TArgs& args, std::ostream& out) {
    if (args.size() != 1)
        throw ECliError("usage: quillet-cli use TYPE:NAME");
    TCliSession session = TCliSession::Open();
    const size_t colon = args[0].find(':');
    const std::optional<TAccount_Type> type =
        colon == std::string::npos ? std::nullopt : AccountTypeOf(args[0].substr(0, colon));
    TAccount* account =
        type ? session.User().GetAccount(*type, args[0].substr(colon + 1)) : nullptr;
    if (!account)
        throw ECliError("no such account: " + args[0] + " (see 'quillet-cli accounts')");
    session.Use(*account);
    out << "current account: " << AccountKey(*account) << "\n";
    return 0;
}

int RunTimeline(const TArgs& args, std::ostream& out) {
    TOptions options = ReadOptions(args);
    std::string userID;
    if (options.words.size() == 2 && options.words[0] == "--user")
        userID = options.words[1];
    else if (!options.words.empty())
        throw ECliError("usage: quillet-cli timeline [--user ID] [--json]");
    const TCliSession session = TCliSession::Open();
    const std::unique_ptr<TNodeDict> reply = userID.empty()
                                                 ? session.Account().GetPublicTimeline()
                                                 : session.Account().GetUserTimeline(userID);
    CheckRefusal(*reply);
    if (options.json)
        return PrintReply(*reply, true, out);
    for (const TNode* status : Items(reply.get(), "result")) {
        PrintStatus(status, out);
        out << "\n";
    }
    return 0;
}

int RunPost(const TArgs& args, std::ostream& out) {
    TOptions options = ReadOptions(args);
    if (options.words.size() != 1)
        throw ECliError("usage: quillet-cli post TEXT [--json]");
    const std::string& text = options.words[0];
    const TCliSession session = TCliSession::Open();
    const size_t length = Utf8ToWide(text).size();
    if (length > static_cast<size_t>(AccountTextLimits[session.Account().AccountType]))
        throw ECliError(std::string(TooLongText));
    if (length == 0)
        throw ECliError(std::string(EmptyStatusText));
    const std::unique_ptr<TNodeDict> reply =
        Call(session.Account(), "update_status", {{"status", text}});
    if (IntegerAt(reply.get(), "_error_code") == 4)
        throw ECliError(std::string(RepeatedStatusText));
    CheckRefusal(*reply);
    if (options.json)
        return PrintReply(*reply, true, out);
    out << PostedText << "\n";
    PrintStatus(reply.get(), out);
    return 0;
}

int RunComments(const TArgs& args, std::ostream& out) {
    TOptions options = ReadOptions(args);
    if (options.words.size() != 1)
        throw ECliError("usage: quillet-cli comments STATUS_ID [--json]");
    const TCliSession session = TCliSession::Open();
    const std::unique_ptr<TNodeDict> reply =
        Call(session.Account(), "comment", {{"ID", options.words[0]}});
    CheckRefusal(*reply);
    if (options.json)
        return PrintReply(*reply, true, out);
    PrintStatus(reply.get(), out);
    const std::vector<const TNode*> comments = Items(reply.get(), "comments");
    out << "\n" << comments.size() << " comments\n";
    for (const TNode* comment : comments)
        PrintStatus(comment, out, "    ");
    return 0;
}

int RunProfile(const TArgs& args, std::ostream& out) {
    TOptions options = ReadOptions(args);
    if (options.words.size() > 1)
        throw ECliError("usage: quillet-cli profile [ID] [--json]");
    const TCliSession session = TCliSession::Open();
    const std::string id = options.words.empty() ? session.Account().AccountName : options.words[0];
    const std::unique_ptr<TNodeDict> reply = Call(session.Account(), "user", {{"ID", id}});
    CheckRefusal(*reply);
    if (options.json)
        return PrintReply(*reply, true, out);
    PrintUser(reply.get(), out);
    return 0;
}

int RunUserList(const std::string& category, const TArgs& args, std::ostream& out) {
    TOptions options = ReadOptions(args);
    if (options.words.size() != 1)
        throw ECliError("usage: quillet-cli " + category + " ID [--json]");
    const TCliSession session = TCliSession::Open();
    const std::unique_ptr<TNodeDict> reply =
        Call(session.Account(), category, {{"ID", options.words[0]}});
    CheckRefusal(*reply);
    if (options.json)
        return PrintReply(*reply, true, out);
    for (const TNode* user : Items(reply.get(), "result"))
        PrintUser(user, out);
    return 0;
}

int RunNotify(const TArgs& args, std::ostream& out) {
    TOptions options = ReadOptions(args);
    if (!options.words.empty())
        throw ECliError("usage: quillet-cli notify [--json]");
    const TCliSession session = TCliSession::Open();
    const std::unique_ptr<TNodeDict> reply = Call(session.Account(), "notify", {});
    CheckRefusal(*reply);
    if (options.json)
        return PrintReply(*reply, true, out);
    const int64_t count = IntegerAt(DictAt(reply.get(), "counts"), "count");
    out << count << " notifications\n";
    std::vector<const TNode*> items = Items(reply.get(), "notifies");
    items.resize(std::min<size_t>(items.size(), static_cast<size_t>(std::max<int64_t>(count, 0))));
    for (const TNode* notification : items) {
        out << "[" << TextAt(notification, "type") << "] " << TextAt(notification, "text") << "\n";
        if (const TNode* object = DictAt(notification, "object"))
            PrintStatus(object, out, "    ");
    }
    return 0;
}

int RunSignOut(const TArgs&, std::ostream& out) {
    RememberSession("", "");
    out << "signed out\n";
    return 0;
}

} // namespace quillet
