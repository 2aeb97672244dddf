-- The tables of edu.db as the program folder delivers it. The client never
-- creates or changes a table; it reads all of them and replaces rows of the
-- six cache tables (t_teacher ... t_catalog) one scope at a time.
-- Every value is text. The indexes serve the scope column(s) by which the
-- cache deletes and lists rows; within one scope rows keep the order in
-- which they were inserted (the server's order).

CREATE TABLE t_login_info (
  teacher_id TEXT, teacher_name TEXT, teacher_phone TEXT, http_url TEXT, is_lock_scr TEXT,
  school_id TEXT, school_name TEXT, shen_name TEXT, shi_name TEXT, qu_name TEXT,
  shen_id TEXT, shi_id TEXT, qu_id TEXT
);

CREATE TABLE t_recent_list (
  teacher_id TEXT, teacher_name TEXT, phone TEXT, school_id TEXT, add_date TEXT
);
CREATE INDEX t_recent_list_school ON t_recent_list(school_id, add_date);

CREATE TABLE hat_province (provinceID TEXT, province TEXT);
CREATE TABLE hat_city (cityID TEXT, city TEXT, father TEXT);
CREATE INDEX hat_city_father ON hat_city(father);
CREATE TABLE hat_area (areaID TEXT, area TEXT, father TEXT);
CREATE INDEX hat_area_father ON hat_area(father);

CREATE TABLE t_teacher (
  id TEXT, teacher_id TEXT, teacher_name TEXT, phone TEXT, school_id TEXT, acronym TEXT, email TEXT
);
CREATE INDEX t_teacher_school ON t_teacher(school_id);

CREATE TABLE t_school (id TEXT, school_id TEXT, school_name TEXT, qu_id TEXT);
CREATE INDEX t_school_district ON t_school(qu_id);

CREATE TABLE t_grade (id TEXT, grade_id TEXT, grade_name TEXT, school_id TEXT);
CREATE INDEX t_grade_school ON t_grade(school_id);

CREATE TABLE t_class (id TEXT, class_id TEXT, class_name TEXT, grade_id TEXT);
CREATE INDEX t_class_grade ON t_class(grade_id);

CREATE TABLE t_subject (id TEXT, subject_id TEXT, subject_name TEXT, grade_id TEXT);
CREATE INDEX t_subject_grade ON t_subject(grade_id);

CREATE TABLE t_catalog (id TEXT, catalog_id TEXT, catalog_name TEXT, grade_id TEXT, subject_id TEXT);
CREATE INDEX t_catalog_scope ON t_catalog(subject_id, grade_id);
