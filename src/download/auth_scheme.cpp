#include "download/auth_scheme.h"

#include <initializer_list>

std::uint32_t ChooseAuthScheme(std::uint32_t dwSupportedSchemes) {
    for (std::uint32_t scheme :
         {kAuthSchemeNegotiate, kAuthSchemeNtlm, kAuthSchemePassport, kAuthSchemeDigest}) {
        if ((dwSupportedSchemes & scheme) != 0) return scheme;
    }
    return kAuthSchemeBasic;
}
