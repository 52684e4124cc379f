#include "sourcecontrol/docflow.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/strings.h"
#include "common/xml.h"

namespace brimora {
namespace {

std::string Stage(const std::string& id, const std::string& parent, const std::string& user, const std::string& notify = "") {
  return "<Stage><ID>" + id + "</ID><Parent>" + parent + "</Parent><User>" + user + "</User><NotifyUser>" + notify +
         "</NotifyUser></Stage>";
}
std::string Section(const std::string& type, const std::string& body) {
  return "<Section><Type>" + type + "</Type>" + body + "</Section>";
}
std::string Item(const std::string& type, const std::string& stage, const std::string& body = "") {
  return "<Item><Type>" + type + "</Type><Stage>" + stage + "</Stage>" + body + "</Item>";
}
// Approvals with the one-letter users given, "-" for an approval without a user.
std::string Approvals(int index, const std::string& users) {
  std::string xml = "<ApprovalIndex>" + std::to_string(index) + "</ApprovalIndex>";
  for (char user : users) xml += "<Approval><User>" + std::string(user != '-', user) + "</User></Approval>";
  return xml;
}

std::unique_ptr<CDocFlow> Load(const std::string& rootBody) {
  auto flow = std::make_unique<CDocFlow>();
  EXPECT_TRUE(flow->Load(LoadXmlText("<Root>" + rootBody + "</Root>")));
  return flow;
}
// The IDs of the top stages; and the users of the current stage, "none" (unchanged) without one.
std::string TopIds(const CDocFlow& flow) {
  std::string ids;
  for (const auto* stage : flow.TopStages) ids += (ids.empty() ? "" : ",") + stage->ID;
  return ids;
}
std::string Users(const CDocFlow& flow) {
  std::string users = "none";
  const bool found = flow.GetCurrentStageUsers(users);
  EXPECT_EQ(found, users != "none");
  return users;
}

TEST(DocflowTest, TreeKeepsStagesThatHaveAUserAndItems) {
  const auto flow = Load(
      Section("ITEMS", Item("Text", "a")) +  // before the stages exist: counts for nothing
      Section("stages", Stage("z", "", "uz")) +
      Section("STAGES", Stage("a", "", "ua") + Stage("nouser", "", "") + Stage("noitem", "", "u") + Stage("p", "", "") +
                            Stage("c", "p", "uc") + Stage("q", "", "") + Stage("d", "q", "ud") + Stage("o", "gone", "uo") +
                            Stage("x", "a", "") + "<Stage><Parent>a</Parent><User>u</User></Stage>") +
      Section("ITEMS", Item("Text", "a") + Item("Text", "nouser") + Item("approval", "c") + Item("Text", "x") +
                           Item("Text", "o") + Item("Text", "z") +
                           Item("CalcTable", "noitem",
                                "<Columns><Column><Stage>o</Stage></Column><Column><Stage>o</Stage></Column></Columns>")));
  EXPECT_EQ(TopIds(*flow), "a,p,o");
  ASSERT_EQ(flow->Stages.size(), 9u);
  EXPECT_EQ(flow->Stages[2]->ItemCount, 0) << "a calculation table counts its columns only";
  EXPECT_EQ(flow->Stages[7]->ItemCount, 3);
  EXPECT_TRUE(flow->Stages[0]->Children.empty()) << "x has no user";
  EXPECT_EQ(flow->Items.size(), 1u) << "only approval items are kept";
}

// The stage number counts from 1; the users come from the notify user, the approval due, or the
// stage and its children.
TEST(DocflowTest, UsersOfTheCurrentStage) {
  const std::string stages =
      Section("STAGES", Stage("s", "", "Ann", "N") + Stage("k1", "s", "ann") + Stage("k2", "s", "Bob") +
                            Stage("k3", "s", "") + Stage("k4", "s", "Bob") + Stage("g", "k2", "Gus") + Stage("t", "", "") +
                            Stage("l", "t", "lad"));
  std::string kids;
  for (const char* stage : {"k1", "k2", "k3", "k4", "g", "l"}) kids += Item("Text", stage);
  const std::string first = Item("APPROVAL", "s", Approvals(0, "x")), one = "<Stage>1</Stage>";
  const struct { std::string head, items; const char* users; } cases[] = {
      {one, Item("APPROVAL", "s", Approvals(1, "a-bc")), "b"}, {one, Item("APPROVAL", "s", Approvals(3, "a-bc")), "Ann,Bob"},
      {one, Item("APPROVAL", "s", Approvals(-1, "abc")), "Ann,Bob"}, {one, first + Item("Approval", "s", Approvals(0, "y")), "x"},
      {one + "<GroupNotify>SeLeCt</GroupNotify>", first, "N"}, {one + "<GroupNotify>selected</GroupNotify>", "", "Ann,Bob"},
      {"<Stage>2</Stage><GroupNotify>select</GroupNotify>", "", "lad"},  // t: neither user
      {"", "", "none"}, {"<Stage>0</Stage>", "", "none"}, {"<Stage>3</Stage>", "", "none"},
      {"<Stage>-2147483648</Stage>", "", "none"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Users(*Load(c.head + stages + Section("ITEMS", c.items + kids))), c.users) << c.head << c.items;
  }
}

TEST(DocflowHostileTest, RepeatedAndCyclicStageIdsLoadWithoutLooping) {
  const auto flow = Load("<Stage>1</Stage>" +
                         Section("STAGES", Stage("r", "", "first") + Stage("self", "self", "me") + Stage("c1", "c2", "u1") +
                                               Stage("c2", "c1", "u2") + Stage("r", "", "second") + Stage("k", "r", "kid")) +
                         Section("ITEMS", Item("Text", "r") + Item("Text", "self") + Item("Text", "c1") +
                                              Item("Text", "c2") + Item("Text", "k")) +
                         "<Nested><Root>" + Section("STAGES", Stage("deep", "", "deep")) +
                         Section("ITEMS", Item("Text", "deep")) + "</Root></Nested>");
  // The later r takes the items, a cycle has no root, and only the root's own sections count.
  EXPECT_EQ(TopIds(*flow), "r");
  EXPECT_EQ(Users(*flow), "second,kid");
  EXPECT_EQ(flow->Stages[1]->GetUsers(), "me") << "a stage that is its own child";
  EXPECT_THROW(CDocFlow().Load(XmlDocument()), XmlError);

  // Deep nesting inside one text and a wide tree: each read once, no recursion.
  std::string wide = "<Stage>1</Stage><Section><Type>STAGES</Type><Stage><ID>d";
  for (int i = 0; i < 50000; ++i) wide += "<x><Root><Section>";
  for (int i = 0; i < 50000; ++i) wide += "</Section></Root></x>";
  wide += "</ID></Stage>";
  std::string items, expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string id = std::to_string(i), user = "U" + std::to_string(i % 100);
    wide += Stage(id, "d", i < 100 ? user : AsciiLower(user));
    items += Item("Text", id);
    if (i < 100) expected += (i == 0 ? "" : ",") + user;
  }
  EXPECT_EQ(Users(*Load(wide + "</Section>" + Section("ITEMS", items))), expected);
}

}  // namespace
}  // namespace brimora
