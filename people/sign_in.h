// Signing people in and out: a registered user or staff member by login and password (checked by
// the directory's sign-in component), a prospect by e-mail address and the PIN of his PROSPECT
// row. Both sit behind the failed sign-in limits of people/sessions.h, per account and per client
// address.
//
// Failures: err::kUnauthorized with one and the same text for every wrong credential (an unknown
// login, a wrong password, an unknown address, a wrong PIN), so the answer does not tell which;
// SignInLocked (err::kTooManyAttempts) when a limit refuses the attempt without a check (the
// description says when to try again). Every sign-in, failure and sign-out writes one log line
// naming the login or address and the client, never the password or PIN.
//
// Thread safety: every function may run concurrently.
#ifndef HELIQ_PEOPLE_SIGN_IN_H_
#define HELIQ_PEOPLE_SIGN_IN_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "people/caller.h"
#include "people/sessions.h"
#include "platform/com_error.h"

namespace heliq {

// The refusal of a sign-in that a limit made without a check: err::kTooManyAttempts, and the
// seconds until the lock ends (for the answer's Retry-After).
class SignInLocked : public ComError {
 public:
  SignInLocked(std::string source, std::string description, int64_t retry_after_seconds)
      : ComError(err::kTooManyAttempts, std::move(source), std::move(description)),
        retry_after_seconds_(retry_after_seconds) {}
  int64_t retry_after_seconds() const { return retry_after_seconds_; }

 private:
  int64_t retry_after_seconds_;
};

// The caller of a directory user, with his roles, centres, display name and locale; err::
// kUnauthorized when the directory does not hold him.
Caller CallerForLogin(std::string_view login, const SessionSettings& settings);

SessionGrant SignInWithPassword(std::string_view login, std::string_view password,
                                std::string_view peer, const SessionSettings& settings);
SessionGrant SignInProspect(std::string_view email, std::string_view pin, std::string_view peer,
                            const SessionSettings& settings);
// Ends the session of `token` and logs it; false when there was none.
bool SignOut(std::string_view token, std::string_view peer);

}  // namespace heliq

#endif  // HELIQ_PEOPLE_SIGN_IN_H_
