// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/formcheck.h"
#include "unit/portlist.h"

#include <QMainWindow>

#include <memory>

// What a test of a window's form stands on, as a base beside QObject: before each test function
// (setUpForm, from init) the form is set up afresh on a bare main window of its own, reached as
// window and ui; after it (tearDownForm, from cleanup) they are gone and the port list is the
// system's again, whatever the test put in its place.
template <class Form> class FormFixture
{
protected:
    void setUpForm()
    {
        form = std::make_unique<formcheck::FormOnWindow<Form>>();
        window = &form->window;
        ui = &form->ui;
    }
    void tearDownForm()
    {
        form.reset();
        ui = nullptr;
        window = nullptr;
        setPortListSource({});
    }

    QMainWindow *window = nullptr;
    Form *ui = nullptr;

private:
    std::unique_ptr<formcheck::FormOnWindow<Form>> form;
};
