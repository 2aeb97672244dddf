// The client's application object. Its one addition is the guard at the
// event-dispatch boundary: a database error that ends the handling of an
// event is shown to the user in a message box, and the client goes on with
// the next event.
#pragma once

#include <QApplication>
#include <functional>

class EduApplication : public QApplication {
 public:
  EduApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Runs `dispatch`; a DB_Func::DbError thrown from it is shown in a message
// box and the event counts as not handled. Anything else passes through.
bool dispatchShowingDbErrors(const std::function<bool()>& dispatch);
