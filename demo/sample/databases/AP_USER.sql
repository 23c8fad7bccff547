-- Logins of the controller's app.
CREATE TABLE app_login (`TYPE`, `LANGUAGE`, `ID`);
