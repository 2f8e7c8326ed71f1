// The account picker: preset selection, OK without a choice, double click.
#include "gui/app/SelectListForm.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace morvane::testing {
namespace {

using app::TSelectListForm;

class SelectListForm : public ::testing::Test {
protected:
    void SetUp() override { qtApp(); }
};

QPushButton* okButton(TSelectListForm& form) {
    return form.findChild<QDialogButtonBox*>("Buttons")->button(QDialogButtonBox::Ok);
}

TEST_F(SelectListForm, ThePresetStartsSelectedAndOkReturnsIt) {
    TSelectListForm form("Select account", {"Demo", "Büro", "Live"}, "Büro");
    form.show();
    ASSERT_NE(form.list()->currentItem(), nullptr);
    EXPECT_EQ(form.list()->currentItem()->text(), QString::fromUtf8("Büro"));
    okButton(form)->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.chosen(), std::optional<std::string>("Büro"));
}

TEST_F(SelectListForm, OkWithoutAChoiceKeepsTheDialogOpen) {
    TSelectListForm form("Select account", {"Demo", "Live"}, "Gone");
    form.show();
    EXPECT_EQ(form.list()->selectedItems().size(), 0);
    okButton(form)->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.chosen());
}

TEST_F(SelectListForm, ADoubleClickChoosesTheEntry) {
    TSelectListForm form("Select account", {"Demo", "Live"}, "");
    form.show();
    QListWidgetItem* live = form.list()->item(1);
    live->setSelected(true);
    form.list()->setCurrentItem(live);
    emit form.list()->itemDoubleClicked(live);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.chosen(), std::optional<std::string>("Live"));
}

} // namespace
} // namespace morvane::testing
