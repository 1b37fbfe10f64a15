#pragma once

#include <string>

namespace velk::test {

// What the fake portal serves unless a test sets its own: the JSON texts of
// the taxpayer list and of the service catalogue.

// Two taxpayers: a company with EIK 123456789 (tin 1001) and a person with
// EGN 8001010000 (tin 1002).
std::string defaultTaxpayersJson();

// The services the operations select, with their links and properties:
// "dept-and-payments-report", "odit-317", "info-income-dif-73",
// "info-income-dif-73-6", "dec1-and-6" and "vat-report".
std::string defaultCatalogueJson();

}  // namespace velk::test
