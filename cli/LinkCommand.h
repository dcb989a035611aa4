#pragma once

// `vellora account link`: asks the account's server for a one-time sign-in code and prints the page's address with
// it, the code alone and until when it holds; at a terminal also the address as a QR code. Gives the exit code.
int linkDevice(bool json);
