#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quillet {

using TArgs = std::vector<std::string>;

// The network commands of quillet-cli. Each returns the process exit code; the errors of the
// transport (EConnectError, EAccountExpiredError, ERateLimitError) and ECliError pass to the
// caller, which prints the client's own message.
int RunSignIn(const TArgs& args, std::istream& in, std::ostream& out);
int RunAccounts(const TArgs& args, std::ostream& out);
int RunUse(const TArgs& args, std::ostream& out);
int RunTimeline(const TArgs& args, std::ostream& out);
int RunPost(const TArgs& args, std::ostream& out);
int RunComments(const TArgs& args, std::ostream& out);
int RunProfile(const TArgs& args, std::ostream& out);
int RunUserList(const std::string& category, const TArgs& args, std::ostream& out);
int RunNotify(const TArgs& args, std::ostream& out);
int RunSignOut(const TArgs& args, std::ostream& out);

} // namespace quillet
