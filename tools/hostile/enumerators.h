// The standard enumerators the server hands out (of strings, of IUnknown, of item attributes, of
// connection points and connections): Next with 0, 1, many and very many, Skip, Reset and Clone,
// each checked as the enumerator contract says (S_OK when all asked for came, else S_FALSE), and
// everything handed out freed.
#pragma once

#include "tools/hostile/call_log.h"
#include "tools/hostile/random_arguments.h"

#include "opcda.h"

#include <ocidl.h>

namespace hostile {

void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumString* enumerator);
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumUnknown* enumerator);
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumOPCItemAttributes* enumerator);
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumConnectionPoints* enumerator);
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumConnections* enumerator);

}  // namespace hostile
