// A self-signed certificate for 127.0.0.1 made at run time, for tests that speak TLS.
//
//   TestTlsIdentity identity = makeSelfSignedIdentity();
//   options.tls = local_backend::TlsIdentity{identity.certificatePem, identity.privateKeyPem};
//   configuration.additionalTrustedCertificates = identity.certificatePem;
#pragma once

#include <string>

namespace voduzazi::testing {

struct TestTlsIdentity {
  std::string certificatePem;
  std::string privateKeyPem;
};

// An EC P-256 key and a certificate for "127.0.0.1" (IP and DNS name), valid for a day.
TestTlsIdentity makeSelfSignedIdentity();

}  // namespace voduzazi::testing
