-- Reference data of the development server: one district of Beijing with
-- three schools. The ids match the demo edu.db that ships with the client,
-- so its cached lists and the server's answers agree.

CREATE TABLE areas (
  id TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  father TEXT NOT NULL DEFAULT ''
);
INSERT INTO areas VALUES
  ('110000', '北京市', ''),
  ('110100', '北京市', '110000'),
  ('110101', '东城区', '110100'),
  ('110102', '西城区', '110100');

CREATE TABLE schools (
  id TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  area_id TEXT NOT NULL
);
INSERT INTO schools VALUES
  ('1001', '东城区第一实验小学', '110101'),
  ('1002', '东城区育英中学', '110101'),
  ('1003', '东城区明德小学', '110101');

CREATE TABLE teachers (
  id TEXT PRIMARY KEY,
  school_id TEXT NOT NULL,
  name TEXT NOT NULL,
  mobile TEXT NOT NULL DEFAULT '',
  acronym TEXT NOT NULL DEFAULT '',
  email TEXT NOT NULL DEFAULT ''
);
INSERT INTO teachers VALUES
  ('2001', '1001', '张伟', '13810012001', 'zw', 'zhangwei@dcsy.edu.cn'),
  ('2002', '1001', '王芳', '13810012002', 'wf', 'wangfang@dcsy.edu.cn'),
  ('2003', '1001', '李娜', '13810012003', 'ln', 'lina@dcsy.edu.cn'),
  ('2004', '1002', '刘洋', '13910022004', 'ly', 'liuyang@dcyy.edu.cn'),
  ('2005', '1002', '陈静', '13910022005', 'cj', 'chenjing@dcyy.edu.cn'),
  ('2006', '1003', '欧阳晓明', '13710032006', 'oyxm', 'ouyangxm@dcmd.edu.cn');

CREATE TABLE grades (
  id TEXT PRIMARY KEY,
  school_id TEXT NOT NULL,
  name TEXT NOT NULL
);
INSERT INTO grades VALUES
  ('3001', '1001', '一年级'),
  ('3002', '1001', '二年级'),
  ('3003', '1001', '三年级'),
  ('3004', '1002', '七年级'),
  ('3005', '1002', '八年级'),
  ('3006', '1003', '一年级'),
  ('3007', '1003', '二年级');

CREATE TABLE classes (
  id TEXT PRIMARY KEY,
  grade_id TEXT NOT NULL,
  name TEXT NOT NULL
);
INSERT INTO classes VALUES
  ('4001', '3001', '一年级（1）班'),
  ('4002', '3001', '一年级（2）班'),
  ('4003', '3002', '二年级（1）班'),
  ('4004', '3002', '二年级（2）班'),
  ('4005', '3003', '三年级（1）班'),
  ('4006', '3004', '七年级（1）班'),
  ('4007', '3004', '七年级（2）班'),
  ('4008', '3005', '八年级（1）班'),
  ('4009', '3006', '一年级（1）班'),
  ('4010', '3007', '二年级（1）班');

CREATE TABLE subjects (
  id TEXT PRIMARY KEY,
  name TEXT NOT NULL
);
INSERT INTO subjects VALUES
  ('5001', '语文'),
  ('5002', '数学'),
  ('5003', '英语'),
  ('5004', '科学'),
  ('5005', '道德与法治'),
  ('5006', '物理'),
  ('5007', '历史');

-- Which subjects each grade is taught, in the order the server lists them.
CREATE TABLE grade_subjects (
  grade_id TEXT NOT NULL,
  subject_id TEXT NOT NULL,
  PRIMARY KEY (grade_id, subject_id)
);
INSERT INTO grade_subjects VALUES
  ('3001', '5001'), ('3001', '5002'), ('3001', '5004'), ('3001', '5005'),
  ('3002', '5001'), ('3002', '5002'), ('3002', '5004'), ('3002', '5005'),
  ('3003', '5001'), ('3003', '5002'), ('3003', '5003'), ('3003', '5004'), ('3003', '5005'),
  ('3004', '5001'), ('3004', '5002'), ('3004', '5003'), ('3004', '5007'),
  ('3005', '5001'), ('3005', '5002'), ('3005', '5003'), ('3005', '5006'), ('3005', '5007'),
  ('3006', '5001'), ('3006', '5002'), ('3006', '5004'), ('3006', '5005'),
  ('3007', '5001'), ('3007', '5002'), ('3007', '5004'), ('3007', '5005');

-- Course catalog entries of a grade's subject. Real textbook titles carry
-- apostrophes and full-width punctuation, so the seed does too.
CREATE TABLE catalogs (
  id TEXT PRIMARY KEY,
  grade_id TEXT NOT NULL,
  subject_id TEXT NOT NULL,
  name TEXT NOT NULL
);
INSERT INTO catalogs VALUES
  ('6001', '3001', '5001', '识字（一）'),
  ('6002', '3001', '5001', '汉语拼音'),
  ('6003', '3001', '5001', '阅读'),
  ('6004', '3001', '5002', '准备课'),
  ('6005', '3001', '5002', '位置'),
  ('6006', '3001', '5002', '1～5的认识和加减法'),
  ('6007', '3003', '5003', 'Unit 1 Hello!'),
  ('6008', '3003', '5003', 'Unit 2 Let''s eat!'),
  ('6009', '3004', '5001', '第一单元 春'),
  ('6010', '3004', '5001', '第二单元 秋天的怀念'),
  ('6011', '3004', '5002', '第一章 有理数'),
  ('6012', '3004', '5002', '第二章 整式的加减'),
  ('6013', '3005', '5006', '第一章 机械运动'),
  ('6014', '3005', '5006', '第二章 声现象'),
  ('6015', '3006', '5001', '识字（一）'),
  ('6016', '3006', '5002', '准备课');
