#include "app/records/CallPolicy.h"

#include <gtest/gtest.h>

using CallPolicy::phoneNumber;

TEST(CallPolicy, FindsTheFirstPlausibleNumberAsWritten)
{
    EXPECT_EQ(phoneNumber({"Appel entrant", "+33 6 12 34 56 78"}), QString("+33 6 12 34 56 78"));
    EXPECT_EQ(phoneNumber({"Mme Durand (06.12.34.56.78) mobile"}), QString("06.12.34.56.78"));
    EXPECT_EQ(phoneNumber({"0612345678"}), QString("0612345678")) << "ten digits without separators";
    EXPECT_EQ(phoneNumber({"0033 1 23 45 67 89"}), QString("0033 1 23 45 67 89"));
    EXPECT_EQ(phoneNumber({"Année 2026", "Jean Martin", "01-23-45-67-89"}), QString("01-23-45-67-89"))
        << "texts are searched in order, the first qualifying match wins";
}

TEST(CallPolicy, RejectsWhatIsNotANumber)
{
    EXPECT_FALSE(phoneNumber({"12 34 56"}).has_value()) << "six digits";
    EXPECT_FALSE(phoneNumber({"Né en 2026"}).has_value()) << "a year";
    EXPECT_FALSE(phoneNumber({"1234-5678-9012-3456"}).has_value()) << "sixteen digits";
    EXPECT_FALSE(phoneNumber({"ref0612345678"}).has_value()) << "glued to a word";
    EXPECT_FALSE(phoneNumber({"Marie Dupont · exemple fictif"}).has_value());
    EXPECT_FALSE(phoneNumber({}).has_value());
}
