// The answer of every matching step of the encoder's dispatch.
#pragma once

namespace mervanta {

// no_match: the step does not apply and nothing is pending; the dispatch goes
// on. matched: it applied (and wrote the value, for a writer). failed: it
// applied and failed, with a Python exception pending; that is final.
enum class Outcome { no_match, matched, failed };

inline Outcome outcome_of(bool succeeded) { return succeeded ? Outcome::matched : Outcome::failed; }

// The success of a step that is known to apply.
inline bool succeeded(Outcome outcome) { return outcome == Outcome::matched; }

}  // namespace mervanta
