#pragma once

// Waits for one key. On a terminal: one key press, without echo and without Enter. Otherwise it reads
// at most one byte from standard input and returns at end of input, so a run from a script or a
// pipe never hangs.
void esperarTecla();
