// The show driver: start-up, the scenes in order, shut-down.
//
// The driver checks no result and reports nothing itself; the modules it calls
// report their own failures (and end the process only where a failure leaves
// nothing to show or play).
#include "opc.h"

int main() {
  // Start-up. The sink comes from $OPC (else localhost:7890) and does not
  // connect yet: the first frame sent connects.
  const opc_sink s = opc_new_sink(nullptr);
  (void)s;

  // The show.

  // Shut-down. The sink's connection ends with the process.
  return 0;
}
