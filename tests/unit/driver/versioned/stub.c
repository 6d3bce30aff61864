/* A library that carries nothing but its version resource. */
int tzr_versioned_stub(void) { return 0; }
