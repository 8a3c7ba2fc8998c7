#include "engine/znMatch.h"

TznMatch* Matcher = nullptr;

TznMatch::TznMatch() = default;
TznMatch::~TznMatch() = default;
