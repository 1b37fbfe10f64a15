#include "infrastructure/portal/PortalReplies.h"

#include <gtest/gtest.h>

#include <clocale>

#include "infrastructure/portal/PortalJsonReaders.h"

namespace velk::core::infra::portal {
namespace {

TEST(PortalJsonReaders, EachReaderTakesOnlyItsTypes) {
    struct Case {
        const char* member;
        std::string string, text, scalar;
        std::int64_t int64;
        bool boolean;
    };
    const json object = json::parse(R"({
        "s": "7", "i": -7, "u": 18446744073709551615, "f": 2.5, "neg": -2.7, "huge": 1e300,
        "t": true, "n": null, "o": {"a": 1}, "a": [1]})");
    const std::vector<Case> cases = {
        {"s", "7", "7", "7", 0, false},
        {"i", "", "-7", "-7", -7, false},
        {"u", "", "18446744073709551615", "18446744073709551615", -1, false},
        {"f", "", "2.500000", "2.500000", 2, false},
        {"neg", "", "-2.700000", "-2.700000", -2, false},
        {"huge", "", "", "", 0, false},
        {"t", "", "", "true", 0, true},
        {"n", "", "", "", 0, false},
        {"o", "", "", "", 0, false},
        {"a", "", "", "", 0, false},
        {"missing", "", "", "", 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jsonString(object, c.member), c.string) << c.member;
        if (std::string_view(c.member) != "huge") {
            EXPECT_EQ(jsonText(object, c.member), c.text) << c.member;
            EXPECT_EQ(jsonScalarText(object, c.member), c.scalar) << c.member;
        }
        EXPECT_EQ(jsonInt64(object, c.member), c.int64) << c.member;
        EXPECT_EQ(jsonBool(object, c.member), c.boolean) << c.member;
    }
    // Not an object: every reader gives its empty value.
    for (const json& other : {json::array({1}), json("s"), json(3), json()}) {
        EXPECT_EQ(jsonText(other, "s"), "");
        EXPECT_EQ(jsonInt64(other, "s"), 0);
        EXPECT_FALSE(jsonBool(other, "s"));
    }
}

TEST(PortalJsonReaders, FloatsIgnoreTheProcessLocale) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old != nullptr ? old : "C";
    if (std::setlocale(LC_NUMERIC, "bg_BG.UTF-8") == nullptr) {
        GTEST_SKIP() << "bg_BG.UTF-8 not installed";
    }
    EXPECT_EQ(jsonText(json{{"f", 2.5}}, "f"), "2.500000");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(PortalReplies, PinTypeTextsAreMatchedWithoutCase) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"eik", 5},      {"EiK", 5},      {"BUS_BULSTAT", 5}, {"egn", 1}, {"IND_EGN", 1}, {"ind_bulstat", 4},
        {"IND_LNCH", 2}, {"ind_slno", 3}, {"LNCH", 0},        {"", 0},    {" eik", 0},
    };
    for (const auto& [text, code] : cases) {
        EXPECT_EQ(pinTypeFromText(text), code) << text;
    }
}

TEST(PortalReplies, TaxpayerFieldsAreReadStrictly) {
    const Taxpayer typed = readTaxpayer(json::parse(
        R"({"name":"Тест","pin":"123","pinType":"EIK","tin":42,"email":"e@x.bg","authorization":"П","active":true})"));
    EXPECT_EQ(typed.name, "Тест");
    EXPECT_EQ(typed.pin, "123");
    EXPECT_EQ(typed.pinType, 5);
    EXPECT_EQ(typed.tin, 42);
    EXPECT_EQ(typed.email, "e@x.bg");
    EXPECT_EQ(typed.authorization, "П");
    EXPECT_TRUE(typed.active);

    const Taxpayer loose = readTaxpayer(json::parse(R"({"pin":123,"tin":"42","active":"true","pinType":5})"));
    EXPECT_EQ(loose.pin, "");
    EXPECT_EQ(loose.tin, 0);
    EXPECT_FALSE(loose.active);
    EXPECT_EQ(loose.pinType, 0);

    const Taxpayer notAnObject = readTaxpayer(json(7));
    EXPECT_EQ(notAnObject.name, "");
    EXPECT_EQ(notAnObject.tin, 0);
}

TEST(PortalReplies, CatalogueShapeAndFallbacks) {
    const std::vector<Category> catalogue = readCatalogue(json::parse(R"([
        {"id": 1, "name": "c", "i18nTitle": "", "title": "Категория", "services": [
            {"id": "s1", "name": "svc", "title": "Услуга", "links": [
                {"id": "l1", "name": "n1", "i18nName": "", "title": "Заглавие", "link": "/x",
                 "linkType": "INTERNAL", "orderNum": 3,
                 "props": {"n": 7, "s": "текст", "b": true, "z": null, "o": {"k": 1}, "f": 1.5}},
                {"id": "l2", "orderNum": 3.0},
                {"id": "l3", "orderNum": "3", "i18nName": "Локално", "title": "Общо"},
                "not an object"
            ]},
            {"id": "s2", "i18nTitle": "Локална", "title": "Обща", "links": {"id": "x"}}
        ]},
        {"id": "c2", "services": {"id": "x"}},
        42
    ])"));
    ASSERT_EQ(catalogue.size(), 3u);
    EXPECT_EQ(catalogue[0].id, "1");
    EXPECT_EQ(catalogue[0].title, "Категория");
    ASSERT_EQ(catalogue[0].services.size(), 2u);
    const Service& svc = catalogue[0].services[0];
    EXPECT_EQ(svc.title, "Услуга");
    ASSERT_EQ(svc.links.size(), 4u);

    const ServiceLink& full = svc.links[0];
    EXPECT_EQ(full.title, "Заглавие");
    EXPECT_EQ(full.link, "/x");
    EXPECT_EQ(full.linkType, "INTERNAL");
    EXPECT_EQ(full.orderNum, 3);
    const std::unordered_map<std::string, std::string> props = {
        {"n", "7"}, {"s", "текст"}, {"b", "true"}, {"z", ""}, {"o", R"({"k":1})"}, {"f", "1.500000"}};
    EXPECT_EQ(full.props, props);

    EXPECT_EQ(svc.links[1].orderNum, INT32_MAX);  // 3.0 is no integer
    EXPECT_EQ(svc.links[1].title, "");
    EXPECT_EQ(svc.links[2].orderNum, INT32_MAX);
    EXPECT_EQ(svc.links[2].title, "Локално");
    EXPECT_EQ(svc.links[3].id, "");  // a record all the same
    EXPECT_TRUE(svc.links[3].props.empty());

    EXPECT_EQ(catalogue[0].services[1].title, "Локална");
    EXPECT_TRUE(catalogue[0].services[1].links.empty());
    EXPECT_TRUE(catalogue[1].services.empty());
    EXPECT_EQ(catalogue[2].id, "");
}

TEST(PortalReplies, NestedPropertiesKeepNonAsciiUnescaped) {
    const auto catalogue = readCatalogue(
        json::parse(R"([{"services":[{"links":[{"props":{"o":{"имe":"стойност","a":[1,2]}}}]}]}])"));
    EXPECT_EQ(catalogue[0].services[0].links[0].props.at("o"), R"({"a":[1,2],"имe":"стойност"})");
}

}  // namespace
}  // namespace velk::core::infra::portal
