#pragma once

// The operation interfaces only pass the portal session along; it lives above
// this folder.
namespace velk::core::infra::portal {
class NapSession;
}  // namespace velk::core::infra::portal
