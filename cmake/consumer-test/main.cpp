#include <brontel/brontel.h>

#include <iostream>

int main() {
  std::cout << brontel::BrontelAPI::GetVersion() << "\n";
  return 0;
}
