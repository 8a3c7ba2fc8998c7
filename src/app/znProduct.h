#pragma once

class TznProject;

// Binds the generic parts to this product: assigns the product constants of
// the project and the scanner's lock-file switch.
void AssignProductConstants(TznProject& project);
