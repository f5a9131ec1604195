// Signing people in and out: a registered user or staff member by login and password (checked by
// the directory's sign-in component), a prospect by e-mail address and the PIN of his PROSPECT
// row. Both sit behind the failed sign-in limits of people/sessions.h, per account and per client
// address.
//
// Failures: err::kUnauthorized with one and the same text for every wrong credential (an unknown
// login, a wrong password, an unknown address, a wrong PIN), so the answer does not tell which;
// err::kTooManyAttempts when a limit refuses the attempt without a check (the description says
// when to try again). Every sign-in, failure and sign-out writes one log line naming the login or
// address and the client, never the password or PIN.
//
// Thread safety: every function may run concurrently.
#ifndef HELIQ_PEOPLE_SIGN_IN_H_
#define HELIQ_PEOPLE_SIGN_IN_H_

#include <string_view>

#include "people/caller.h"
#include "people/sessions.h"

namespace heliq {

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
