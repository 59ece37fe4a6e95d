/* The smallest program that makes a real PE32 image for the carrier and
   placement tests to sign, fill and read. */
int main(void) { return 0; }
